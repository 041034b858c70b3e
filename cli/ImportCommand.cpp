#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/Directory.h"
#include "engine/HexRecords.h"
#include "engine/HostDates.h"
#include "engine/Import.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <unistd.h>

namespace dwcli {

namespace fs = std::filesystem;

namespace {

struct ImportArguments {
    std::string image;
    std::vector<std::string> files;
    std::string name;
    std::string mode = "auto";
    bool stripLineFeeds = true;
    bool compressSpaces = false;
    bool replace = false;
    bool noReplace = false;
    bool partial = false;
    bool noPartial = false;
    bool json = false;
    std::string from; // s19 or ihex: a program file made into a FLEX binary
    std::string start;
    bool keepDates = false;
};

constexpr const char* StandardInput = "standard input";

// On a terminal the questions are asked unless a flag answers them; without one the flags
// answer, and the default is the answer that changes nothing.
class CliQuestions : public dw::ImportQuestions {
public:
    CliQuestions(CliContext& context, const ImportArguments& arguments, bool interactive)
        : context_(context), args_(arguments), interactive_(interactive) {}

    // `shown` names the file in messages; `path` is where the engine reads it.
    void setFile(const std::string& shown, const std::string& path) {
        shown_ = shown;
        path_ = path;
        explained_ = false;
    }
    bool explained() const { return explained_; }

    bool askName(std::string& text) override {
        if (!interactive_) {
            explain(args_.name.empty() ? "the name does not fit the FLEX 8.3 form (give one "
                                         "with --name)"
                                       : "the name given with --name does not fit the FLEX "
                                         "8.3 form");
            return false;
        }
        std::string answer;
        if (!context_.io.askText("FLEX name for " + shown_ + " (8.3) [" + text + "]:", answer))
            return false;
        if (!answer.empty())
            text = answer;
        return true;
    }

    bool askYesNo(const std::string& question) override {
        return interactive_ && context_.io.askYesNo(question);
    }

    bool askReplace(const std::string& question) override {
        if (args_.replace || args_.noReplace)
            return args_.replace;
        if (interactive_)
            return context_.io.askYesNo(question);
        explain("a file of that name exists (use --replace to replace it)");
        return false;
    }

    bool askBinary(const std::string& question) override {
        // Only a first byte outside 0x20-0x7F brings the question: binary unless told otherwise.
        return !interactive_ || context_.io.askYesNo(question);
    }

    bool askPartial(const std::string& question) override {
        if (args_.partial || args_.noPartial)
            return args_.partial;
        if (interactive_)
            return context_.io.askYesNo(question);
        explain("the disk is full (use --partial to keep the part that fits)");
        return false;
    }

    void tell(const std::string& message) override { explain(message); }

    void tellFailure(const dw::Status& status) override {
        if (status.code() == dw::ErrorCode::OpenFailed && status.systemError() != 0)
            explain("cannot open; nothing was imported", status.systemError());
        else
            explain(status.text());
    }

private:
    void explain(std::string message, int reason = 0) {
        // Standard input goes through a temporary file whose name means nothing to the user.
        for (std::size_t at; !path_.empty() && (at = message.find(path_)) != std::string::npos;)
            message.replace(at, path_.size(), shown_);
        context_.error(args_.image, shown_ + ": " + message, reason);
        explained_ = true;
    }

    CliContext& context_;
    const ImportArguments& args_;
    bool interactive_;
    std::string shown_;
    std::string path_;
    bool explained_ = false;
};

// Standard input copied whole into a temporary file. The file loses its name at once where the
// system lets it be read through /proc/self/fd, so that nothing stays behind whatever ends the
// program (Ctrl+C while standard input is still being typed); else the name goes when done.
class StdinCopy {
public:
    ~StdinCopy() {
        if (file_)
            std::fclose(file_);
        if (named_)
            std::remove(path_.c_str());
    }
    // Returns the errno of a failure, 0 on success.
    int take(std::istream& in) {
        std::string pattern = (fs::temp_directory_path() / "diskwright-stdin-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            return errno;
        path_ = pattern;
        named_ = true;
        if (::access("/proc/self/fd", X_OK) == 0 && ::unlink(pattern.c_str()) == 0) {
            path_ = "/proc/self/fd/" + std::to_string(fd);
            named_ = false;
        }
        file_ = fdopen(fd, "wb");
        if (!file_) {
            const int reason = errno;
            close(fd);
            return reason;
        }
        char buffer[64 * 1024];
        bool failed = false;
        while (in && !failed) {
            in.read(buffer, sizeof buffer);
            const auto got = static_cast<std::size_t>(in.gcount());
            failed = got > 0 && std::fwrite(buffer, 1, got, file_) != got;
        }
        const int reason = failed ? errno : 0;
        // Kept open: an unnamed copy lives only as long as its descriptor.
        if (std::fflush(file_) != 0 && !failed)
            return errno != 0 ? errno : EIO;
        if (failed || in.bad())
            return reason != 0 ? reason : EIO;
        return 0;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool named_ = false;
};

// A host file the engine will read: only regular files are taken, and that is decided before
// any open (a pipe with no writer would wait for ever, a device might never end). One that
// cannot be opened is refused by the engine, with the system's reason.
bool regular(CliContext& context, const std::string& image, const std::string& file) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (fs::is_directory(status)) {
        context.error(image, file + ": is a folder; nothing was imported");
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        context.error(image, file + ": is not a regular file (a device or pipe); nothing was "
                                    "imported");
        return false;
    }
    return true;
}

// "C100", "0xC100" or "$C100".
std::optional<std::uint16_t> parseAddress(std::string text) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)
        text.erase(0, 2);
    else if (!text.empty() && text[0] == '$')
        text.erase(0, 1);
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
}

// A program file (S-records or Intel HEX) made into the bytes of a FLEX binary file; reports
// and returns nullopt when it cannot be. `path` is where it is read, `shown` names it.
std::optional<std::vector<std::uint8_t>> programBytes(CliContext& context,
                                                      const ImportArguments& args,
                                                      const std::string& shown,
                                                      const std::string& path) {
    const std::string subject = args.image + ": " + shown;
    const std::string nothing = "; nothing was imported";
    std::string text;
    dw::Status status = dw::readRecordFile(path, text);
    dw::MemoryImage memory;
    std::vector<std::string> warnings;
    if (status.ok())
        status = dw::readRecords(args.from == "s19" ? dw::RecordFormat::SRecords
                                                    : dw::RecordFormat::IntelHex,
                                 text, memory, warnings);
    if (status.ok() && memory.empty())
        status = {dw::ErrorCode::BadRecord, "it holds no data records"};
    if (!status.ok()) {
        std::string what = status.text();
        if (const std::size_t at = what.find(path); at != std::string::npos)
            what.replace(at, path.size(), shown);
        context.error(subject, what + nothing);
        return std::nullopt;
    }
    for (const std::string& warning : warnings)
        context.warn(subject, warning);
    if (!args.start.empty())
        memory.start = parseAddress(args.start);
    return dw::flexBinary(memory);
}

// The entry the import wrote, read back from the directory.
std::optional<dw::DirectoryEntry> importedEntry(dw::DiskImage& image, const std::string& flexName) {
    dw::Listing listing;
    dw::readListing(image, listing);
    for (const dw::DirectoryEntry& e : listing.entries)
        if (flexName == e.name() + "." + e.ext())
            return e;
    return std::nullopt;
}

void runImport(CliContext& context, const ImportArguments& args) {
    if (!args.name.empty() && args.files.size() != 1)
        throw CLI::ValidationError("import", "--name names a single file; nothing was imported");
    const bool fromStdin = std::find(args.files.begin(), args.files.end(), "-") != args.files.end();
    if (fromStdin && args.name.empty())
        throw CLI::ValidationError("import", "- reads standard input, which needs --name NAME.EXT");
    if (args.compressSpaces && args.mode == "binary")
        throw CLI::ValidationError("import", "--compress-spaces works on text; --mode binary "
                                             "copies bytes unchanged");
    const bool program = !args.from.empty();
    if (program && (args.compressSpaces || args.mode == "text"))
        throw CLI::ValidationError("import", "--from makes a FLEX binary file; --mode text and "
                                             "--compress-spaces work on text");
    if (!args.start.empty() && !program)
        throw CLI::ValidationError("import", "--start goes with --from");
    if (!args.start.empty() && !parseAddress(args.start))
        throw CLI::ValidationError("import", "--start " + args.start +
                                                 ": not an address of 64 KiB in hex (C100)");
    Json document = jsonDocument("import", args.image);
    document["files"] = Json::array();
    JsonScope scope(context, document, args.json);
    std::unique_ptr<dw::DiskImage> image = openImage(context, args.image, true);
    if (!image)
        return scope.finish();

    StdinCopy stdinCopy;
    if (fromStdin) {
        if (const int reason = stdinCopy.take(context.io.in)) {
            context.error(args.image,
                          std::string(StandardInput) + ": cannot read; nothing was imported",
                          reason);
            return scope.finish();
        }
    }

    dw::ImportOptions options;
    options.stripLineFeeds = args.stripLineFeeds;
    options.applySpaceCompression = args.compressSpaces;
    // Compressing spaces makes a text of the file, whatever its first byte.
    options.mode = args.mode == "text" || args.compressSpaces ? dw::ImportMode::Text
                   : args.mode == "binary" || program         ? dw::ImportMode::Binary
                                                              : dw::ImportMode::Auto;
    options.keepHostDates = args.keepDates;
    // Standard input holds the data, so no question can be answered from it.
    CliQuestions questions(context, args, context.io.interactive && !fromStdin);
    // One session for the whole command: the directory and the chains are read once.
    dw::ImportSession session(*image, options, questions);
    DoneLines done;
    for (const std::string& file : args.files) {
        const bool isStdin = file == "-";
        const std::string shown = isStdin ? StandardInput : file;
        const std::string path = isStdin ? stdinCopy.path() : file;
        Json entry;
        entry["source"] = isStdin ? "-" : file;
        if (!isStdin && !regular(context, args.image, file)) {
            entry["status"] = "failed";
            document["files"].push_back(entry);
            continue;
        }
        questions.setFile(shown, isStdin ? path : "");
        std::optional<std::vector<std::uint8_t>> bytes;
        if (program && !(bytes = programBytes(context, args, shown, path))) {
            entry["status"] = "failed";
            document["files"].push_back(entry);
            continue;
        }
        dw::ImportResult result;
        if (!program) {
            result = session.importFile(path, args.name);
        } else {
            // The entry's date is the program file's, as importFile takes a host file's.
            dw::LocalDate date;
            const dw::Status dated =
                args.keepDates ? dw::hostFileDate(path, date) : dw::Status::success();
            const std::string name =
                args.name.empty() ? dw::splitHostName(file).name + ".CMD" : args.name;
            if (dated.ok())
                result = session.importBytes(std::move(*bytes), name, shown,
                                             args.keepDates ? std::optional(date) : std::nullopt);
            else
                result.status = {dated.code(), dated.text() + "; nothing was imported"};
        }
        if (!result.committed) {
            if (!questions.explained())
                context.error(args.image, shown + ": " + result.status.text());
            entry["status"] = "failed";
            entry["error"] = jsonText(result.status.text());
            document["files"].push_back(entry);
            continue;
        }
        const bool compressed = result.text && args.compressSpaces;
        done.report(shown + " -> " + printable(result.flexName) + " (" +
                    std::to_string(result.sectorsUsed) +
                    (result.sectorsUsed == 1 ? " sector" : " sectors") +
                    (compressed ? ", spaces compressed)" : ")"));
        entry["status"] = "imported";
        entry["mode"] = result.text ? "text" : "binary";
        entry["spacesCompressed"] = compressed;
        entry["sectors"] = result.sectorsUsed;
        // Read back only when asked for: a listing per file would slow a large batch.
        const std::optional<dw::DirectoryEntry> e =
            args.json || context.verbose ? importedEntry(*image, result.flexName) : std::nullopt;
        if (e) {
            entry["name"] = jsonText(e->name());
            entry["extension"] = jsonText(e->ext());
            putLink(entry, "start", e->startLink);
            putLink(entry, "end", e->endLink);
            if (context.verbose)
                done.detail(printable(result.flexName) + ": " + (result.text ? "text" : "binary") +
                            ", sectors " +
                            sectorRuns(chainSectors(*image, e->startLink, e->sectorCount)));
        }
        document["files"].push_back(entry);
    }
    if (commitImage(context, args.image, *image))
        done.tell(context);
    else
        for (Json& file : document["files"])
            file["status"] = "failed";
    dw::SystemInformationRecord sir;
    if (image->readSir(sir).ok())
        document["remainingSectors"] = sir.freeSectorCount;
    scope.finish();
}

} // namespace

void addImportCommand(CLI::App& app, CliContext& context) {
    auto args = std::make_shared<ImportArguments>();
    CLI::App* command = app.add_subcommand(
        "import", "Copy host files into the image as FLEX files, taking sectors from the free "
                  "chain");
    command->add_option("IMAGE", args->image, "FLEX disk image (.dsk)")->required();
    command
        ->add_option("FILE", args->files,
                     "Host files to import; - reads standard input "
                     "(with --name)")
        ->required();
    command->add_option("--name", args->name, "FLEX name (NAME.EXT) for a single file");
    command->add_option("--mode", args->mode, "auto (by the first byte), text or binary")
        ->check(CLI::IsMember({"auto", "text", "binary"}));
    command->add_flag("--strip-lf,!--no-strip-lf", args->stripLineFeeds,
                      "Text: drop the line feed of CR LF, turn a lone LF into CR (default on)");
    command->add_flag("--compress-spaces", args->compressSpaces,
                      "Text: store each run of 3 or more spaces as FLEX space compression "
                      "(0x09 and a count) and takes the file as text; default off, as in the "
                      "window");
    CLI::Option* replace =
        command->add_flag("--replace,--force", args->replace,
                          "Replace a file of the same name (--force means the same)");
    CLI::Option* noReplace = command->add_flag("--no-replace", args->noReplace,
                                               "Keep a file of the same name (the default)");
    replace->excludes(noReplace);
    CLI::Option* partial =
        command->add_flag("--partial", args->partial, "On a full disk keep the part that fits");
    CLI::Option* noPartial = command->add_flag(
        "--no-partial", args->noPartial, "On a full disk import nothing of the file (the default)");
    partial->excludes(noPartial);
    addJsonFlag(*command, args->json);
    command
        ->add_option("--from", args->from,
                     "Convert each file from Motorola S-records (s19) or Intel HEX (ihex) into a "
                     "FLEX binary (named NAME.CMD unless --name says otherwise)")
        ->check(CLI::IsMember({"s19", "ihex"}));
    command->add_option("--start", args->start,
                        "With --from: the transfer address (hex, C100), instead of the file's");
    command->add_flag("--keep-dates", args->keepDates,
                      "Date each entry as its host file was last changed, not today");
    command->callback([&context, args] { runImport(context, *args); });
}

} // namespace dwcli
