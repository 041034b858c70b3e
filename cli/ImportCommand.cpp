#include "cli/Commands.h"

#include "engine/Import.h"

#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct ImportArguments {
    std::string image;
    std::vector<std::string> files;
    std::string name;
    std::string mode = "auto";
    bool stripLineFeeds = true;
    bool replace = false;
    bool noReplace = false;
    bool partial = false;
    bool noPartial = false;
};

// On a terminal the questions are asked unless a flag answers them; without one the flags
// answer, and the default is the answer that changes nothing.
class CliQuestions : public dw::ImportQuestions {
public:
    CliQuestions(CliIo& io, const ImportArguments& arguments) : io_(io), args_(arguments) {}

    void setFile(const std::string& hostPath) { host_ = hostPath; }

    bool askName(std::string& text) override {
        if (!io_.interactive) {
            io_.message(host_ + (args_.name.empty()
                                     ? ": the name does not fit the FLEX 8.3 form (give one "
                                       "with --name)"
                                     : ": the name given with --name does not fit the FLEX 8.3 "
                                       "form"));
            return false;
        }
        std::string answer;
        if (!io_.askText("FLEX name for " + host_ + " (8.3) [" + text + "]:", answer))
            return false;
        if (!answer.empty())
            text = answer;
        return true;
    }

    bool askYesNo(const std::string& question) override {
        return io_.interactive && io_.askYesNo(question);
    }

    bool askReplace(const std::string& question) override {
        if (args_.replace || args_.noReplace)
            return args_.replace;
        if (io_.interactive)
            return io_.askYesNo(question);
        io_.message(host_ + ": a file of that name exists (use --replace to replace it)");
        return false;
    }

    bool askBinary(const std::string& question) override {
        // Only a first byte outside 0x20-0x7F brings the question: binary unless told otherwise.
        return !io_.interactive || io_.askYesNo(question);
    }

    bool askPartial(const std::string& question) override {
        if (args_.partial || args_.noPartial)
            return args_.partial;
        if (io_.interactive)
            return io_.askYesNo(question);
        io_.message(host_ + ": the disk is full (use --partial to keep the part that fits)");
        return false;
    }

    void tell(const std::string& message) override { io_.message(host_ + ": " + message); }

private:
    CliIo& io_;
    const ImportArguments& args_;
    std::string host_;
};

void runImport(CliContext& context, const ImportArguments& args) {
    CliIo& io = context.io;
    if (!args.name.empty() && args.files.size() != 1) {
        io.message("--name names a single file; nothing was imported");
        context.exitCode = ExitUsage;
        return;
    }
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::open(args.image, image);
    if (status.ok() && image->readOnly())
        status = {dw::ErrorCode::ReadOnly,
                  "The disk image is open read-only; nothing was imported"};
    if (!status.ok()) {
        io.message(args.image + ": " + status.text());
        context.exitCode = ExitFailure;
        return;
    }

    dw::ImportOptions options;
    options.stripLineFeeds = args.stripLineFeeds;
    options.mode = args.mode == "text"     ? dw::ImportMode::Text
                   : args.mode == "binary" ? dw::ImportMode::Binary
                                           : dw::ImportMode::Auto;
    CliQuestions questions(io, args);
    dw::ImportSession session(*image, options, questions);
    for (const std::string& file : args.files) {
        questions.setFile(file);
        const dw::ImportResult result = session.importFile(file, args.name);
        if (result.committed) {
            io.out << file << " -> " << result.flexName << " (" << result.sectorsUsed
                   << (result.sectorsUsed == 1 ? " sector)\n" : " sectors)\n");
            continue;
        }
        if (result.status.code() == dw::ErrorCode::Cancelled)
            io.message(file + ": " + result.status.text());
        context.exitCode = ExitFailure;
    }
}

} // namespace

void addImportCommand(CLI::App& app, CliContext& context) {
    auto args = std::make_shared<ImportArguments>();
    CLI::App* command = app.add_subcommand(
        "import", "Copy host files into the image as FLEX files, taking sectors from the free "
                  "chain");
    command->add_option("IMAGE", args->image, "FLEX disk image (.dsk)")->required();
    command->add_option("FILE", args->files, "Host files to import")->required();
    command->add_option("--name", args->name, "FLEX name (NAME.EXT) for a single file");
    command->add_option("--mode", args->mode, "auto (by the first byte), text or binary")
        ->check(CLI::IsMember({"auto", "text", "binary"}));
    command->add_flag("--strip-lf,!--no-strip-lf", args->stripLineFeeds,
                      "Text: drop the line feed of CR LF, turn a lone LF into CR (default on)");
    CLI::Option* replace =
        command->add_flag("--replace", args->replace, "Replace a file of the same name");
    CLI::Option* noReplace = command->add_flag("--no-replace", args->noReplace,
                                               "Keep a file of the same name (the default)");
    replace->excludes(noReplace);
    CLI::Option* partial =
        command->add_flag("--partial", args->partial, "On a full disk keep the part that fits");
    CLI::Option* noPartial = command->add_flag(
        "--no-partial", args->noPartial, "On a full disk import nothing of the file (the default)");
    partial->excludes(noPartial);
    command->callback([&context, args] { runImport(context, *args); });
}

} // namespace dwcli
