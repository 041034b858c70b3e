#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/HostNames.h"

#include <filesystem>
#include <memory>
#include <ostream>

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
    bool force = false;
};

void addTextFlags(CLI::App* command, CopyOptions& options) {
    command->add_flag("--expand-tabs,!--no-expand-tabs", options.expandTabs,
                      "Expand FLEX space compression in text mode (default on)");
    command->add_flag("--add-lf,!--no-add-lf", options.addLineFeeds,
                      "Write a line feed after each carriage return in text mode (default on)");
}

void fail(CliContext& context, const std::string& text) {
    context.io.message(text);
    context.exitCode = ExitFailure;
}

// Opens read-only (copies never write the image) and lists it. A damaged directory is
// reported and the entries found before the damage stay usable.
std::unique_ptr<dw::DiskImage> openListed(CliContext& context, const std::string& path,
                                          dw::Listing& listing) {
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::openReadOnly(path, image);
    if (status.ok())
        status = dw::readListing(*image, listing);
    if (status.code() == dw::ErrorCode::Damaged) {
        fail(context, path + ": " + status.text());
    } else if (!status.ok()) {
        fail(context, path + ": " + status.text());
        image.reset();
    }
    return image;
}

const char* modeText(dw::TransferMode mode) {
    return mode == dw::TransferMode::Text ? "text" : "binary";
}

void runExport(CliContext& context, const CopyOptions& options) {
    if (options.names.empty() && !options.all)
        throw CLI::ValidationError("export", "name the files to export, or use --all");
    dw::Listing listing;
    std::unique_ptr<dw::DiskImage> image = openListed(context, options.image, listing);
    if (!image)
        return;

    std::vector<const dw::DirectoryEntry*> files;
    if (options.all) {
        for (const dw::DirectoryEntry& e : listing.entries)
            files.push_back(&e);
    }
    for (const std::string& argument : options.names) {
        const FlexName wanted = splitFlexName(argument);
        const dw::DirectoryEntry* entry = findEntry(listing.entries, wanted);
        if (entry)
            files.push_back(entry);
        else
            fail(context,
                 printable(wanted.text()) + ": no such file on the disk image; nothing exported");
    }

    // One named file may go to a path of its own; several always go into a folder.
    std::error_code ec;
    const bool intoFolder = options.all || options.names.size() > 1 || options.output.empty() ||
                            fs::is_directory(options.output, ec);
    fs::path folder = options.output.empty() ? fs::path(".") : fs::path(options.output);
    if (intoFolder && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            fail(context, folder.string() + ": unable to create the folder; nothing exported");
            return;
        }
    }

    dw::ExtractOptions extract;
    extract.expandTabs = options.expandTabs;
    extract.addLineFeeds = options.addLineFeeds;
    if (options.mode == "text")
        extract.forceMode = dw::TransferMode::Text;
    else if (options.mode == "binary")
        extract.forceMode = dw::TransferMode::Binary;

    for (const dw::DirectoryEntry* entry : files) {
        const dw::EntryFields fields = dw::fieldsOf(*entry);
        const std::string flexName = printable(fields.name + "." + fields.ext);
        const fs::path destination = intoFolder ? folder / dw::hostFileName(fields.name, fields.ext)
                                                : fs::path(options.output);
        dw::ExtractResult result =
            dw::exportFile(*image, fields, destination, options.force, extract);
        if (!result.status.ok()) {
            std::string text = result.status.text();
            if (result.status.code() == dw::ErrorCode::Exists)
                text += " (use --force)";
            fail(context, flexName + ": " + text);
            continue;
        }
        // The name made from the image is shown escaped; a path the user gave is shown as given.
        const std::string shown =
            intoFolder ? (folder / printable(dw::hostFileName(fields.name, fields.ext))).string()
                       : options.output;
        context.io.out << flexName << " -> " << shown << " (" << modeText(result.mode) << ")\n";
        if (result.chainEndedEarly)
            fail(context, flexName + ": " + dw::UnexpectedEndOfChainText);
    }
}

void runCat(CliContext& context, const CopyOptions& options) {
    dw::Listing listing;
    std::unique_ptr<dw::DiskImage> image = openListed(context, options.image, listing);
    if (!image)
        return;
    const FlexName wanted = splitFlexName(options.names.front());
    const dw::DirectoryEntry* entry = findEntry(listing.entries, wanted);
    if (!entry) {
        fail(context, printable(wanted.text()) + ": no such file on the disk image");
        return;
    }
    const dw::EntryFields fields = dw::fieldsOf(*entry);
    dw::TransferMode mode = dw::TransferMode::Binary;
    dw::Status status = dw::chooseTransferMode(*image, fields.startLink, fields.randomFlag,
                                               dw::CopyVariant::View, mode);
    if (!status.ok()) {
        fail(context, printable(wanted.text()) + ": " + status.text());
        return;
    }
    if (mode == dw::TransferMode::Binary) {
        fail(context, printable(wanted.text()) + ": a binary file; nothing shown (use export)");
        return;
    }
    dw::ExtractOptions extract;
    extract.expandTabs = options.expandTabs;
    extract.addLineFeeds = options.addLineFeeds;
    extract.variant = dw::CopyVariant::View;
    extract.forceMode = mode;
    dw::ExtractResult result = dw::ExtractFile(*image, fields.startLink, fields.sectorCount,
                                               fields.randomFlag, extract, context.io.out);
    if (!result.status.ok())
        fail(context, printable(wanted.text()) + ": " + result.status.text());
    else if (result.chainEndedEarly)
        fail(context, printable(wanted.text()) + ": " + dw::UnexpectedEndOfChainText);
}

} // namespace

void addExportCommands(CLI::App& app, CliContext& context) {
    auto exportOptions = std::make_shared<CopyOptions>();
    CLI::App* exportCommand = app.add_subcommand(
        "export", "Copy files out of the image: one to a path or folder, several into a folder");
    exportCommand->add_option("IMAGE", exportOptions->image, "FLEX disk image (.dsk)")->required();
    exportCommand->add_option("NAME.EXT", exportOptions->names, "Files to export");
    exportCommand->add_option("-o,--output", exportOptions->output,
                              "Destination file (one file) or folder (default: current folder)");
    exportCommand->add_flag("--all", exportOptions->all, "Export every file into the folder");
    exportCommand
        ->add_option("--mode", exportOptions->mode,
                     "auto (random files and non-text first bytes binary), text or binary")
        ->check(CLI::IsMember({"auto", "text", "binary"}));
    addTextFlags(exportCommand, *exportOptions);
    exportCommand->add_flag("-f,--force", exportOptions->force, "Overwrite existing host files");
    exportCommand->callback([&context, exportOptions] { runExport(context, *exportOptions); });

    auto catOptions = std::make_shared<CopyOptions>();
    CLI::App* catCommand = app.add_subcommand("cat", "Print a text file as the view copy shows it");
    catCommand->add_option("IMAGE", catOptions->image, "FLEX disk image (.dsk)")->required();
    catCommand->add_option("NAME.EXT", catOptions->names, "File to print")->required()->expected(1);
    addTextFlags(catCommand, *catOptions);
    catCommand->callback([&context, catOptions] { runCat(context, *catOptions); });
}

} // namespace dwcli
