#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/BootLink.h"

#include <memory>

namespace dwcli {

namespace {

struct LinkOptions {
    std::string image;
    std::string name;
    bool json = false;
};

void runLink(CliContext& context, const LinkOptions& options) {
    Json document = jsonDocument("link", options.image);
    JsonScope scope(context, document, options.json);
    dw::Listing listing;
    std::unique_ptr<dw::DiskImage> image = openListed(context, options.image, listing, true);
    if (!image)
        return scope.finish();
    const Selection selection = selectFiles(listing.entries, {options.name});
    if (!selection.unmatched.empty()) {
        context.error(options.image, unmatchedText(options.name));
        return scope.finish();
    }
    if (selection.files.size() > 1) {
        context.error(options.image, "'" + options.name + "' finds " +
                                         std::to_string(selection.files.size()) +
                                         " files; the boot sector links one; nothing was changed");
        return scope.finish();
    }
    const dw::DirectoryEntry& entry = *selection.files.front();
    document["name"] = jsonText(entry.name());
    document["extension"] = jsonText(entry.ext());
    putLink(document, "start", entry.startLink);
    const dw::BootLinkResult result = dw::linkBootFile(*image, entry);
    for (const std::string& warning : result.warnings)
        context.warn(options.image, printable(warning));
    if (!result.status.ok()) {
        context.error(options.image, printable(result.status.text()));
        return scope.finish();
    }
    if (!commitImage(context, options.image, *image))
        return scope.finish();
    context.report("The boot sector now starts " + shownName(entry) + " at " +
                   dw::linkText(entry.startLink));
    scope.finish();
}

} // namespace

void addLinkCommand(CLI::App& app, CliContext& context) {
    auto options = std::make_shared<LinkOptions>();
    CLI::App* command = app.add_subcommand(
        "link", "Point the boot sector at a file: its start link goes into bytes 5 and 6, where "
                "the boot loader reads it");
    command->add_option("IMAGE", options->image, "FLEX disk image (.dsk)")->required();
    command->add_option("NAME.EXT", options->name, "The file to boot, such as FLEX.SYS")
        ->required();
    addJsonFlag(*command, options->json);
    command->callback([&context, options] { runLink(context, *options); });
}

} // namespace dwcli
