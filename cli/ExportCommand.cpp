#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/HostDates.h"
#include "engine/HostNames.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <utility>

#include <sys/stat.h>

namespace dwcli {

namespace fs = std::filesystem;

namespace {

struct CopyOptions {
    std::string image;
    std::vector<std::string> names;
    std::string output;
    bool all = false;
    std::string mode = "auto";
    bool expandTabs = true;
    bool addLineFeeds = true;
    std::string newline; // crlf, cr or lf; empty: as addLineFeeds says
    bool force = false;
    bool json = false;
    std::string to; // s19, ihex or bin: the file read as a FLEX binary
    bool keepDates = false;
};

void addTextFlags(CLI::App* command, CopyOptions& options) {
    command->add_flag("--expand-tabs,!--no-expand-tabs", options.expandTabs,
                      "Expand FLEX space compression in text mode (default on)");
    CLI::Option* addLf = command->add_flag(
        "--add-lf,!--no-add-lf", options.addLineFeeds,
        "Write a line feed after each carriage return in text mode (default on); the same as "
        "--newline crlf and --newline cr");
    command
        ->add_option("--newline", options.newline,
                     "Line ends in text mode: crlf (the default), cr, or lf (line feeds alone, "
                     "and no NUL padding at the end, for Unix tools)")
        ->check(CLI::IsMember({"crlf", "cr", "lf"}))
        ->excludes(addLf);
}

dw::Newline newlineOf(const CopyOptions& options) {
    if (options.newline == "lf")
        return dw::Newline::Lf;
    if (options.newline == "cr" || (options.newline.empty() && !options.addLineFeeds))
        return dw::Newline::Cr;
    return dw::Newline::CrLf;
}

dw::ProgramFormat programFormat(const std::string& to) {
    return to == "s19"    ? dw::ProgramFormat::SRecords
           : to == "ihex" ? dw::ProgramFormat::IntelHex
                          : dw::ProgramFormat::MemoryBytes;
}

// The host name of a FLEX file exported as a program file: NAME.s19, NAME.hex or NAME.bin.
std::string programHostName(const std::string& name, const std::string& to) {
    return dw::hostFileName(name, to == "ihex" ? "hex" : to);
}

// The copy of one file as the options ask: its sectors' contents, or its program.
dw::ExtractResult exportOne(dw::DiskImage& image, const dw::EntryFields& fields,
                            const CopyOptions& options, const dw::ExtractOptions& extract,
                            const fs::path& destination, std::vector<std::string>& warnings) {
    if (options.to.empty())
        return dw::exportFile(image, fields, destination, options.force, extract);
    return dw::exportProgram(image, fields, programFormat(options.to), destination, options.force,
                             warnings);
}

// The files the arguments name (or every file); each argument that finds nothing is an error.
std::vector<const dw::DirectoryEntry*> chosenFiles(CliContext& context, const std::string& path,
                                                   const dw::Listing& listing,
                                                   const std::vector<std::string>& arguments,
                                                   bool all, bool& patterns) {
    Selection selection = selectFiles(listing.entries, arguments);
    for (const std::string& argument : selection.unmatched)
        context.error(path, unmatchedText(argument));
    patterns = selection.patterns;
    if (all) {
        for (const dw::DirectoryEntry& e : listing.entries)
            if (std::find(selection.files.begin(), selection.files.end(), &e) ==
                selection.files.end())
                selection.files.push_back(&e);
    }
    return selection.files;
}

const char* modeText(dw::TransferMode mode) {
    return mode == dw::TransferMode::Text ? "text" : "binary";
}

dw::ExtractOptions extractOptions(const CopyOptions& options) {
    dw::ExtractOptions extract;
    extract.expandTabs = options.expandTabs;
    extract.newline = newlineOf(options);
    if (options.mode == "text")
        extract.forceMode = dw::TransferMode::Text;
    else if (options.mode == "binary")
        extract.forceMode = dw::TransferMode::Binary;
    return extract;
}

// A host file by its device and inode, so that names a case-blind file system takes for one
// are one file too. Devices (/dev/null) are left out: writing one twice replaces nothing.
struct Written {
    std::string name; // the FLEX file, as shown
    std::optional<std::pair<dev_t, ino_t>> file;
};

std::optional<std::pair<dev_t, ino_t>> identity(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return std::make_pair(info.st_dev, info.st_ino);
}

const Written* madeBefore(const std::vector<Written>& written, const fs::path& destination) {
    const auto file = identity(destination);
    if (!file)
        return nullptr;
    for (const Written& w : written)
        if (w.file == file)
            return &w;
    return nullptr;
}

void showSectors(CliContext& context, dw::DiskImage& image, const dw::DirectoryEntry& entry) {
    if (context.verbose)
        context.detail(shownName(entry) + ": sectors " +
                       sectorRuns(chainSectors(image, entry.startLink, entry.sectorCount)));
}

void runExport(CliContext& context, const CopyOptions& options) {
    const bool toStdout = options.output == "-";
    if (options.names.empty() && !options.all)
        throw CLI::ValidationError("export", "name the files to export, or use --all");
    if (toStdout && options.all)
        throw CLI::ValidationError("export", "-o - writes one file to standard output; "
                                             "--all would run several together");
    if (toStdout && options.json)
        throw CLI::ValidationError("export", "--json and -o - would both write to standard "
                                             "output");
    if (toStdout && options.keepDates)
        throw CLI::ValidationError("export", "--keep-dates dates host files; -o - writes none");
    Json document = jsonDocument("export", options.image);
    document["files"] = Json::array();
    JsonScope scope(context, document, options.json);
    dw::Listing listing;
    std::unique_ptr<dw::DiskImage> image = openListed(context, options.image, listing, false);
    if (!image)
        return scope.finish();
    bool patterns = false;
    const std::vector<const dw::DirectoryEntry*> files =
        chosenFiles(context, options.image, listing, options.names, options.all, patterns);
    const dw::ExtractOptions extract = extractOptions(options);

    if (toStdout) {
        if (files.size() > 1) {
            std::string names;
            for (const dw::DirectoryEntry* e : files)
                names += " " + shownName(*e);
            context.error(options.image, "-o - writes one file to standard output, but " +
                                             std::to_string(files.size()) + " match:" + names +
                                             "; nothing exported");
            return;
        }
        for (const dw::DirectoryEntry* entry : files) {
            const dw::EntryFields fields = dw::fieldsOf(*entry);
            showSectors(context, *image, *entry);
            std::vector<std::string> warnings;
            const dw::ExtractResult result =
                options.to.empty() ? dw::ExtractFile(*image, fields.startLink, fields.sectorCount,
                                                     fields.randomFlag, extract, context.io.out)
                                   : dw::exportProgram(*image, fields, programFormat(options.to),
                                                       context.io.out, warnings);
            for (const std::string& warning : warnings)
                context.warn(options.image + ": " + shownName(*entry), warning);
            const bool failed = result.status.code() == dw::ErrorCode::WriteFailed;
            if (!context.checkOutput(failed ? errno : 0))
                continue;
            if (!result.status.ok()) {
                context.error(options.image, shownName(*entry) + ": " + result.status.text());
                continue;
            }
            context.report(shownName(*entry) + " -> standard output (" +
                           (options.to.empty() ? modeText(result.mode) : options.to) + ")");
            if (result.chainEndedEarly)
                context.error(options.image,
                              shownName(*entry) + ": " + dw::UnexpectedEndOfChainText);
        }
        return;
    }

    // One named file may go to a path of its own; several, or a pattern, always go into a folder.
    std::error_code ec;
    const bool intoFolder = options.all || patterns || options.names.size() > 1 ||
                            options.output.empty() || options.output.back() == '/' ||
                            fs::is_directory(options.output, ec);
    const fs::path folder = options.output.empty() ? fs::path(".") : fs::path(options.output);
    if (!files.empty() && intoFolder && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            context.error(folder.string(), "cannot create the folder; nothing exported",
                          ec.value());
            return scope.finish();
        }
    }

    std::vector<Written> written; // the host files this run has made
    for (const dw::DirectoryEntry* entry : files) {
        const dw::EntryFields fields = dw::fieldsOf(*entry);
        const std::string name = shownName(*entry);
        const std::string hostName = options.to.empty() ? dw::hostFileName(fields.name, fields.ext)
                                                        : programHostName(fields.name, options.to);
        const fs::path destination = intoFolder ? folder / hostName : fs::path(options.output);
        // The name made from the image is shown escaped; a path the user gave is shown as given.
        const std::string shown =
            intoFolder ? (folder / printable(hostName)).string() : options.output;
        Json file;
        file["name"] = jsonText(fields.name);
        file["extension"] = jsonText(fields.ext);
        file["destination"] = shown;
        // Two files that come to one host name: the second would replace the first.
        if (const Written* earlier = madeBefore(written, destination)) {
            const std::string text = shown + " already holds " + earlier->name +
                                     " from this export; " + name + " was not exported";
            context.error(options.image, name + ": " + text);
            file["status"] = "failed";
            file["error"] = text;
            document["files"].push_back(file);
            continue;
        }
        showSectors(context, *image, *entry);
        errno = 0;
        std::vector<std::string> warnings;
        const dw::ExtractResult result =
            exportOne(*image, fields, options, extract, destination, warnings);
        const int reason = errno;
        for (const std::string& warning : warnings)
            context.warn(options.image + ": " + name, warning);
        if (!result.status.ok()) {
            std::string text = result.status.text();
            if (result.status.code() == dw::ErrorCode::Exists)
                text += " (use --force)";
            const bool hostFailure = result.status.code() == dw::ErrorCode::OpenFailed ||
                                     result.status.code() == dw::ErrorCode::WriteFailed;
            context.error(options.image, name + ": " + text, hostFailure ? reason : 0);
            file["status"] = "failed";
            file["error"] = text;
            document["files"].push_back(file);
            continue;
        }
        written.push_back({name, identity(destination)});
        context.report(name + " -> " + shown + " (" +
                       (options.to.empty() ? modeText(result.mode) : options.to) + ")");
        file["status"] = "exported";
        file["mode"] = modeText(result.mode);
        if (!options.to.empty())
            file["to"] = options.to;
        if (options.keepDates) {
            const dw::Status dated = dw::setHostFileDate(destination, *entry);
            if (dated.code() == dw::ErrorCode::BadDate)
                context.warn(options.image + ": " + name, dated.text());
            else if (!dated.ok())
                context.error(options.image, name + ": " + dated.text());
        }
        file["sectors"] = fields.sectorCount;
        file["chainEndedEarly"] = result.chainEndedEarly;
        if (result.chainEndedEarly) {
            context.error(options.image, name + ": " + dw::UnexpectedEndOfChainText);
            file["error"] = dw::UnexpectedEndOfChainText;
        }
        document["files"].push_back(file);
    }
    scope.finish();
}

void runCat(CliContext& context, const CopyOptions& options) {
    dw::Listing listing;
    std::unique_ptr<dw::DiskImage> image = openListed(context, options.image, listing, false);
    if (!image)
        return;
    bool patterns = false;
    for (const dw::DirectoryEntry* entry :
         chosenFiles(context, options.image, listing, options.names, false, patterns)) {
        const std::string name = shownName(*entry);
        const dw::EntryFields fields = dw::fieldsOf(*entry);
        dw::TransferMode mode = dw::TransferMode::Binary;
        dw::Status status = dw::chooseTransferMode(*image, fields.startLink, fields.randomFlag,
                                                   dw::CopyVariant::View, mode);
        if (!status.ok()) {
            context.error(options.image, name + ": " + status.text());
            continue;
        }
        if (mode == dw::TransferMode::Binary) {
            context.error(options.image, name + ": a binary file; nothing shown (use export)");
            continue;
        }
        showSectors(context, *image, *entry);
        dw::ExtractOptions extract;
        extract.expandTabs = options.expandTabs;
        extract.newline = newlineOf(options);
        extract.variant = dw::CopyVariant::View;
        extract.forceMode = mode;
        dw::ExtractResult result = dw::ExtractFile(*image, fields.startLink, fields.sectorCount,
                                                   fields.randomFlag, extract, context.io.out);
        const bool failed = result.status.code() == dw::ErrorCode::WriteFailed;
        if (!context.checkOutput(failed ? errno : 0))
            return;
        if (!result.status.ok())
            context.error(options.image, name + ": " + result.status.text());
        else if (result.chainEndedEarly)
            context.error(options.image, name + ": " + dw::UnexpectedEndOfChainText);
    }
}

} // namespace

void addExportCommands(CLI::App& app, CliContext& context) {
    auto exportOptions = std::make_shared<CopyOptions>();
    CLI::App* exportCommand = app.add_subcommand(
        "export", "Copy files out of the image: one to a path, a folder or standard output (-o "
                  "-); several, or a pattern, into a folder");
    exportCommand->add_option("IMAGE", exportOptions->image, "FLEX disk image (.dsk)")->required();
    exportCommand->add_option("NAME.EXT", exportOptions->names,
                              "Files to export: names in any letter case, or patterns with * ? "
                              "[...] (quote them)");
    exportCommand->add_option("-o,--output", exportOptions->output,
                              "Destination file, folder (created when missing) or - for "
                              "standard output (default: the current folder)");
    exportCommand->add_flag("--all", exportOptions->all, "Export every file into the folder");
    CLI::Option* mode =
        exportCommand
            ->add_option("--mode", exportOptions->mode,
                         "auto (random files and non-text first bytes binary), text or binary")
            ->check(CLI::IsMember({"auto", "text", "binary"}));
    addTextFlags(exportCommand, *exportOptions);
    exportCommand
        ->add_option("--to", exportOptions->to,
                     "Read each file as a FLEX binary and write the memory it loads as Motorola "
                     "S-records (s19), Intel HEX (ihex) or its bytes (bin); host names end in "
                     ".s19, .hex or .bin")
        ->check(CLI::IsMember({"s19", "ihex", "bin"}))
        ->excludes(mode);
    exportCommand->add_flag("--keep-dates", exportOptions->keepDates,
                            "Give each host file the FLEX file's date (noon, local time)");
    exportCommand->add_flag("-f,--force", exportOptions->force, "Overwrite existing host files");
    addJsonFlag(*exportCommand, exportOptions->json);
    exportCommand->callback([&context, exportOptions] { runExport(context, *exportOptions); });

    auto catOptions = std::make_shared<CopyOptions>();
    CLI::App* catCommand =
        app.add_subcommand("cat", "Print text files as the window's view copy holds them");
    catCommand->add_option("IMAGE", catOptions->image, "FLEX disk image (.dsk)")->required();
    catCommand
        ->add_option("NAME.EXT", catOptions->names,
                     "Files to print: names in any letter case, or patterns with * ? [...]")
        ->required();
    addTextFlags(catCommand, *catOptions);
    catCommand->callback([&context, catOptions] { runCat(context, *catOptions); });
}

} // namespace dwcli
