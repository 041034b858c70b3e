#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/Check.h"
#include "engine/Delete.h"

#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct DeleteOptions {
    std::string image;
    std::vector<std::string> names;
    bool yes = false;
};

void fail(CliContext& context, const std::string& text) {
    context.io.message(text);
    context.exitCode = ExitFailure;
}

void runDelete(CliContext& context, const DeleteOptions& options) {
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::open(options.image, image);
    if (!status.ok()) {
        fail(context, options.image + ": " + status.text());
        return;
    }
    if (image->readOnly()) {
        fail(context, options.image + ": The disk image is open read-only; nothing was changed");
        return;
    }
    if (!options.yes) {
        if (!context.io.interactive) {
            fail(context, "Deleting asks \"Are you sure?\"; without a terminal give --yes. "
                          "Nothing was deleted");
            return;
        }
        if (!context.io.askYesNo("Are you sure?")) {
            fail(context, "Nothing was deleted");
            return;
        }
    }
    for (const std::string& argument : options.names) {
        const FlexName wanted = splitFlexName(argument);
        status = dw::deleteFile(*image, wanted.name, wanted.ext);
        if (status.ok())
            context.io.out << "Deleted " << printable(wanted.text()) << '\n';
        else
            fail(context, printable(status.text()));
    }
}

void runCheck(CliContext& context, const std::string& path) {
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::openReadOnly(path, image);
    if (!status.ok()) {
        fail(context, path + ": " + status.text());
        return;
    }
    const dw::CheckReport report = dw::checkImage(*image);
    if (report.clean()) {
        context.io.out << path << ": no problems found\n";
        return;
    }
    for (const std::string& finding : report.findings)
        context.io.out << printable(finding) << '\n';
    context.exitCode = ExitFailure;
}

} // namespace

void addDeleteCommands(CLI::App& app, CliContext& context) {
    auto deleteOptions = std::make_shared<DeleteOptions>();
    CLI::App* deleteCommand = app.add_subcommand(
        "delete", "Delete files: mark their entries deleted and return their sectors to the "
                  "free chain");
    deleteCommand->add_option("IMAGE", deleteOptions->image, "FLEX disk image (.dsk)")->required();
    deleteCommand->add_option("NAME.EXT", deleteOptions->names, "Files to delete")->required();
    deleteCommand->add_flag("-y,--yes", deleteOptions->yes,
                            "Answer \"Are you sure?\" with Yes (needed without a terminal)");
    deleteCommand->callback([&context, deleteOptions] { runDelete(context, *deleteOptions); });

    auto checkPath = std::make_shared<std::string>();
    CLI::App* checkCommand = app.add_subcommand(
        "check", "Check the directory, every file chain and the free chain; exit 1 on findings");
    checkCommand->add_option("IMAGE", *checkPath, "FLEX disk image (.dsk)")->required();
    checkCommand->callback([&context, checkPath] { runCheck(context, *checkPath); });
}

} // namespace dwcli
