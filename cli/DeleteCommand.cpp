#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/Check.h"
#include "engine/Delete.h"
#include "engine/Directory.h"

#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct DeleteOptions {
    std::string image;
    std::vector<std::string> names;
    bool yes = false;
    bool json = false;
};

std::string freeCountText(dw::DiskImage& image) {
    dw::SystemInformationRecord sir;
    return image.readSir(sir).ok() ? std::to_string(sir.freeSectorCount) : "?";
}

// Deletes one file by its exact name; the engine checks both chains before it writes.
Json deleteOne(CliContext& context, const DeleteOptions& options, dw::DiskImage& image,
               const dw::DirectoryEntry& entry, DoneLines& done) {
    const std::string name = shownName(entry);
    Json file;
    file["name"] = jsonText(entry.name());
    file["extension"] = jsonText(entry.ext());
    file["sectors"] = entry.sectorCount;
    putLink(file, "start", entry.startLink);
    putLink(file, "end", entry.endLink);
    const std::string freeBefore = context.verbose ? freeCountText(image) : "";
    const std::vector<dw::SectorLink> sectors =
        context.verbose ? chainSectors(image, entry.startLink, entry.sectorCount)
                        : std::vector<dw::SectorLink>{};
    const dw::Status status = dw::deleteFile(image, entry.name(), entry.ext());
    if (!status.ok()) {
        context.error(options.image, printable(status.text()));
        file["status"] = "failed";
        file["error"] = jsonText(status.text());
        return file;
    }
    done.report("Deleted " + name);
    if (context.verbose)
        done.detail(name + ": entry marked deleted; sectors " + sectorRuns(sectors) +
                    " joined the free chain; free sectors " + freeBefore + " -> " +
                    freeCountText(image));
    file["status"] = "deleted";
    return file;
}

void runDelete(CliContext& context, const DeleteOptions& options) {
    Json document = jsonDocument("delete", options.image);
    document["files"] = Json::array();
    JsonScope scope(context, document, options.json);
    std::unique_ptr<dw::DiskImage> image = openImage(context, options.image, true);
    if (!image)
        return scope.finish();
    dw::Listing listing;
    const dw::Status listed = dw::readListing(*image, listing);
    if (!listed.ok())
        context.error(options.image, listed.text());
    if (!listed.ok() && listed.code() != dw::ErrorCode::Damaged)
        return scope.finish();
    const Selection selection = selectFiles(listing.entries, options.names);
    for (const std::string& argument : selection.unmatched)
        context.error(options.image, unmatchedText(argument));
    if (selection.files.empty())
        return scope.finish();

    // A pattern may reach further than meant: say what it found before anything is deleted.
    if (selection.patterns) {
        std::string names;
        for (const dw::DirectoryEntry* e : selection.files)
            names += " " + shownName(*e);
        const std::string text = "To delete (" + std::to_string(selection.files.size()) +
                                 (selection.files.size() == 1 ? " file):" : " files):") + names;
        if (options.yes)
            context.report(text);
        else
            context.io.message(text);
    }
    if (!options.yes) {
        if (!context.io.interactive) {
            context.error(options.image, "deleting asks \"Are you sure?\"; without a terminal "
                                         "give --yes. Nothing was deleted");
            return scope.finish();
        }
        if (!context.io.askYesNo("Are you sure?")) {
            context.error(options.image, "nothing was deleted");
            return scope.finish();
        }
    }
    DoneLines done;
    for (const dw::DirectoryEntry* entry : selection.files)
        document["files"].push_back(deleteOne(context, options, *image, *entry, done));
    if (commitImage(context, options.image, *image))
        done.tell(context);
    else
        for (Json& file : document["files"])
            file["status"] = "failed";
    dw::SystemInformationRecord sir;
    if (image->readSir(sir).ok())
        document["remainingSectors"] = sir.freeSectorCount;
    scope.finish();
}

std::string kindName(dw::FindingKind kind) {
    switch (kind) {
    case dw::FindingKind::Unreadable:
        return "unreadable";
    case dw::FindingKind::FileLength:
        return "file-length";
    case dw::FindingKind::OutsideGeometry:
        return "outside-geometry";
    case dw::FindingKind::SharedSector:
        return "shared-sector";
    case dw::FindingKind::TrackZero:
        return "track-zero";
    case dw::FindingKind::DirectoryDamaged:
        return "directory-damaged";
    case dw::FindingKind::ChainDamaged:
        return "chain-damaged";
    case dw::FindingKind::ChainLength:
        return "chain-length";
    case dw::FindingKind::ChainEnd:
        return "chain-end";
    case dw::FindingKind::FreeCount:
        return "free-count";
    case dw::FindingKind::FreeChainDamaged:
        return "free-chain-damaged";
    case dw::FindingKind::FreeEnd:
        return "free-end";
    case dw::FindingKind::LostSectors:
        return "lost-sectors";
    }
    return "unknown";
}

void runCheck(CliContext& context, const std::string& path, bool json) {
    Json document = jsonDocument("check", path);
    JsonScope scope(context, document, json);
    std::unique_ptr<dw::DiskImage> image = openImage(context, path, false);
    if (!image) {
        if (json)
            printDocument(context.io.out, document, false);
        return;
    }
    const dw::CheckReport report = dw::checkImage(*image);
    document["clean"] = report.clean();
    document["findings"] = Json::array();
    for (std::size_t i = 0; i < report.findings.size(); ++i) {
        Json finding;
        finding["kind"] = kindName(report.details[i].kind);
        finding["text"] = jsonText(report.findings[i]);
        finding["sectors"] = Json::array();
        for (dw::SectorLink link : report.details[i].sectors)
            finding["sectors"].push_back(jsonLink(link));
        document["findings"].push_back(finding);
        if (!json)
            context.io.out << printable(report.findings[i]) << '\n';
    }
    if (!report.clean())
        context.exitCode = ExitFailure;
    else
        context.report(path + ": no problems found");
    if (json)
        printDocument(context.io.out, document, report.clean());
}

} // namespace

void addDeleteCommands(CLI::App& app, CliContext& context) {
    auto deleteOptions = std::make_shared<DeleteOptions>();
    CLI::App* deleteCommand = app.add_subcommand(
        "delete", "Delete files: mark their entries deleted and return their sectors to the "
                  "free chain");
    deleteCommand->add_option("IMAGE", deleteOptions->image, "FLEX disk image (.dsk)")->required();
    deleteCommand
        ->add_option("NAME.EXT", deleteOptions->names,
                     "Files to delete: names in any letter case, or patterns with * ? [...] "
                     "(what a pattern finds is listed first)")
        ->required();
    deleteCommand->add_flag("-y,--yes", deleteOptions->yes,
                            "Answer \"Are you sure?\" with Yes (needed without a terminal)");
    addJsonFlag(*deleteCommand, deleteOptions->json);
    deleteCommand->callback([&context, deleteOptions] { runDelete(context, *deleteOptions); });

    auto check = std::make_shared<ImageSet>(ImageSet{"check"});
    CLI::App* checkCommand = app.add_subcommand(
        "check", "Check the directory, every file chain and the free chain; one line per "
                 "finding on standard output, exit 1 on findings");
    checkCommand
        ->add_option("IMAGE", check->paths,
                     "FLEX disk image (.dsk); several, or folders of them, give IMAGE: lines")
        ->required();
    checkCommand->add_flag("--json", check->json, "Print a JSON document (docs/json.md)");
    addJobsOption(*checkCommand, check->jobs);
    checkCommand->callback([&context, check] {
        if (!severalImages(check->paths))
            return runCheck(context, check->paths.front(), check->json);
        runOnImages(context, *check, [check](CliContext& one, const std::string& image) {
            runCheck(one, image, check->json);
        });
    });
}

} // namespace dwcli
