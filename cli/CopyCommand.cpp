#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/SectorMap.h"
#include "engine/WriteFile.h"

#include <filesystem>
#include <memory>

namespace dwcli {

namespace {

struct CopyArguments {
    std::string source;
    std::vector<std::string> names;
    std::string target;
    bool replace = false;
    bool json = false;
};

// The source's live files as the listing finds them, with their places in its map.
struct SourceFiles {
    dw::SectorMap map;
    std::vector<dw::DirectoryEntry> entries;
    std::vector<std::size_t> indexes; // in the map, one for each of entries
};

bool mapSource(CliContext& context, const std::string& path, dw::DiskImage& image,
               SourceFiles& files) {
    dw::SystemInformationRecord sir;
    dw::Status status = image.readSir(sir);
    if (status.ok())
        status = dw::SectorMap::build(image, sir, files.map);
    if (!status.ok()) {
        context.error(path, status.text());
        return false;
    }
    // The files before damage to the directory can still be copied.
    if (!files.map.directoryStatus().ok())
        context.error(path, files.map.directoryStatus().text());
    for (std::size_t i = 0; i < files.map.entries().size(); ++i)
        if (files.map.entries()[i].state == dw::EntryState::Live) {
            files.entries.push_back(files.map.entries()[i].slot.entry);
            files.indexes.push_back(i);
        }
    return true;
}

void runCopy(CliContext& context, const CopyArguments& args) {
    Json document = jsonDocument("copy", args.source);
    document["target"] = args.target;
    document["files"] = Json::array();
    JsonScope scope(context, document, args.json);
    std::error_code ec;
    if (std::filesystem::equivalent(args.source, args.target, ec)) {
        context.error(args.target, "is the source image itself; nothing was copied");
        return scope.finish();
    }
    std::unique_ptr<dw::DiskImage> source = openImage(context, args.source, false);
    SourceFiles files;
    if (!source || !mapSource(context, args.source, *source, files))
        return scope.finish();
    const Selection selection = selectFiles(files.entries, args.names);
    for (const std::string& argument : selection.unmatched)
        context.error(args.source, unmatchedText(argument));
    if (selection.files.empty())
        return scope.finish();
    std::unique_ptr<dw::DiskImage> target = openImage(context, args.target, true);
    if (!target)
        return scope.finish();

    dw::FileWriter writer(*target);
    DoneLines copied; // reported once the change is written
    for (const dw::DirectoryEntry* entry : selection.files) {
        const std::string name = shownName(*entry);
        Json file;
        file["name"] = jsonText(entry->name());
        file["extension"] = jsonText(entry->ext());
        file["status"] = "failed";
        dw::WholeFlexFile whole;
        const std::size_t index =
            files.indexes[static_cast<std::size_t>(entry - files.entries.data())];
        dw::Status status = dw::readWholeFile(*source, files.map, index, whole);
        if (!status.ok()) {
            context.error(args.source, printable(status.text()));
            file["error"] = jsonText(status.text());
            document["files"].push_back(file);
            continue;
        }
        const dw::WriteFileResult result = writer.write(std::move(whole), args.replace);
        if (!result.status.ok()) {
            const std::string text =
                result.status.text() +
                (result.status.code() == dw::ErrorCode::Exists ? " (use --replace)" : "");
            context.error(args.target, printable(text));
            file["error"] = jsonText(text);
            document["files"].push_back(file);
            continue;
        }
        file["status"] = "copied";
        file["sectors"] = result.sectors;
        file["random"] = entry->randomFlag != 0;
        file["replaced"] = result.replaced;
        file["directoryGrew"] = result.directoryGrew;
        document["files"].push_back(file);
        copied.report(name + " -> " + args.target + " (" + std::to_string(result.sectors) +
                      (result.sectors == 1 ? " sector" : " sectors") +
                      (result.replaced ? ", replacing the file there" : "") +
                      (result.directoryGrew ? ", the directory grew" : "") + ")");
    }
    if (commitImage(context, args.target, *target)) {
        copied.tell(context);
    } else {
        for (Json& file : document["files"])
            file["status"] = "failed";
    }
    dw::SystemInformationRecord sir;
    if (target->readSir(sir).ok())
        document["remainingSectors"] = sir.freeSectorCount;
    scope.finish();
}

} // namespace

void addCopyCommand(CLI::App& app, CliContext& context) {
    auto args = std::make_shared<CopyArguments>();
    CLI::App* command = app.add_subcommand(
        "copy", "Copy files from one image into another, byte for byte, keeping their names, "
                "dates and random flags");
    command->add_option("SOURCE", args->source, "FLEX disk image to copy from (.dsk)")->required();
    command
        ->add_option("NAME.EXT", args->names,
                     "Files to copy: names in any letter case, or patterns with * ? [...] "
                     "(quote them)")
        ->required();
    command->add_option("--to", args->target, "FLEX disk image to copy into")->required();
    command->add_flag("--replace,--force", args->replace,
                      "Replace a file of the same name in the target");
    addJsonFlag(*command, args->json);
    command->callback([&context, args] { runCopy(context, *args); });
}

} // namespace dwcli
