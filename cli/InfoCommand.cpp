#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/Directory.h"
#include "engine/Texts.h"
#include "engine/Undelete.h"

#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct ListOptions {
    std::string image;
    bool json = false;
    bool names = false;
    bool deleted = false;
    std::vector<std::string> paths; // list: images and folders
    unsigned jobs = 1;
};

// The cells padded to the widths of the window's columns, so the rows line up under the titles.
std::string rowLine(const dw::RowTexts& cells) {
    static constexpr std::size_t widths[dw::ColumnCount] = {10, 5, 1, 10, 9, 9, 6};
    std::string line;
    for (int i = 0; i < dw::ColumnCount; ++i) {
        std::string cell = printable(cells[i]); // names come from the image: no raw control bytes
        if (cell.size() < widths[i] && i + 1 < dw::ColumnCount)
            cell.append(widths[i] - cell.size(), ' ');
        line += cell;
        if (i + 1 < dw::ColumnCount)
            line += ' ';
    }
    return line;
}

} // namespace

Json jsonEntry(const dw::DirectoryEntry& e) {
    Json file;
    file["name"] = jsonText(e.name());
    file["extension"] = jsonText(e.ext());
    file["random"] = e.randomFlag != 0;
    file["date"] = dw::rowTexts(e)[3];
    putLink(file, "start", e.startLink);
    putLink(file, "end", e.endLink);
    file["sectors"] = e.sectorCount;
    return file;
}

namespace {

// A deleted entry as the listing shows it: "?" for the name's overwritten first character.
dw::DirectoryEntry shownDeleted(const dw::DeletedFile& file) {
    dw::DirectoryEntry e = file.entry;
    e.fileName[0] = '?';
    return e;
}

std::string recoveryText(const dw::DeletedFile& file) {
    return file.recoverable ? "deleted, recoverable" : "deleted, not recoverable: " + file.reason;
}

void putVolume(Json& document, const dw::Listing& listing, const dw::ImageLayout& layout) {
    const dw::SystemInformationRecord& sir = listing.sir;
    document["volumeLabel"] = jsonText(sir.label());
    document["volumeNumber"] = sir.volumeNumber;
    document["creationDate"] = dw::creationDateText(sir);
    document["remainingSectors"] = sir.freeSectorCount;
    document["fileCount"] = listing.entries.size();
    document["tracks"] = sir.maxTrack + 1;
    document["sectorsPerTrack"] = sir.maxSector;
    putLink(document, "firstFree", sir.firstFree);
    putLink(document, "lastFree", sir.lastFree);
    document["track0Sectors"] = layout.trackZeroSectors;
    document["headerBytes"] = layout.headerBytes;
}

// Listing never writes: the image is opened read-only. A damaged directory keeps the entries
// found before the damage; it is reported after them.
void runListing(CliContext& context, const std::string& command, const ListOptions& options) {
    Json document = jsonDocument(command, options.image);
    JsonScope scope(context, document, options.json);
    std::unique_ptr<dw::DiskImage> image = openImage(context, options.image, false);
    dw::Listing listing;
    dw::Status damage;
    if (image) {
        damage = dw::readListing(*image, listing);
        if (!damage.ok() && damage.code() != dw::ErrorCode::Damaged) {
            context.error(options.image, damage.text());
            image.reset();
        }
    }
    std::ostream& out = context.io.out;
    if (!image) {
        if (options.json)
            printDocument(out, document, false);
        return;
    }
    if (!damage.ok()) {
        context.error(options.image, damage.text());
        document["damage"] = damage.text();
    }
    std::vector<dw::DeletedFile> deleted;
    if (options.deleted) {
        // A damaged directory is told above; its entries before the damage are listed.
        const dw::Status listed = dw::listDeleted(*image, deleted);
        if (!listed.ok() && listed.code() != dw::ErrorCode::Damaged)
            context.error(options.image, listed.text());
    }
    if (options.json) {
        putVolume(document, listing, image->layout());
        if (command == "list") {
            document["files"] = Json::array();
            for (const dw::DirectoryEntry& e : listing.entries) {
                document["files"].push_back(jsonEntry(e));
                if (options.deleted)
                    document["files"].back()["deleted"] = false;
            }
            for (const dw::DeletedFile& file : deleted) {
                Json row = jsonEntry(shownDeleted(file));
                row["deleted"] = true;
                row["recoverable"] = file.recoverable;
                if (!file.recoverable)
                    row["reason"] = file.reason;
                document["files"].push_back(row);
            }
        }
        printDocument(out, document, context.exitCode == ExitSuccess);
    } else if (command == "info") {
        out << "Volume Label       " << printable(dw::volumeLabelText(listing.sir)) << '\n'
            << "Creation Date      " << dw::creationDateText(listing.sir) << '\n'
            << "Remaining Sectors  " << dw::remainingSectorsText(listing.sir.freeSectorCount)
            << '\n'
            << "File Count         " << dw::fileCountText(static_cast<int>(listing.entries.size()))
            << '\n'
            << "Tracks             " << listing.sir.maxTrack + 1 << '\n'
            << "Sectors per Track  " << int{listing.sir.maxSector} << '\n'
            << "Track 0 Sectors    " << int{image->layout().trackZeroSectors} << '\n'
            << "Header Bytes       " << image->layout().headerBytes << '\n';
    } else if (options.names) {
        for (const dw::DirectoryEntry& e : listing.entries)
            out << shownName(e) << '\n';
        for (const dw::DeletedFile& file : deleted)
            out << shownName(shownDeleted(file)) << '\n';
    } else {
        dw::RowTexts titles;
        for (int i = 0; i < dw::ColumnCount; ++i)
            titles[i] = dw::FileColumns[i].title;
        out << rowLine(titles) << '\n';
        for (const dw::DirectoryEntry& e : listing.entries)
            out << rowLine(dw::rowTexts(e)) << '\n';
        for (const dw::DeletedFile& file : deleted)
            out << rowLine(dw::rowTexts(shownDeleted(file))) << "  "
                << printable(recoveryText(file)) << '\n';
    }
}

} // namespace

void addInfoCommands(CLI::App& app, CliContext& context) {
    auto info = std::make_shared<ListOptions>();
    CLI::App* infoCommand =
        app.add_subcommand("info", "Show the volume label and number, creation date, "
                                   "remaining sectors, file count and geometry");
    infoCommand->add_option("IMAGE", info->image, "FLEX disk image (.dsk)")->required();
    infoCommand->add_flag("--json", info->json, "Print a JSON document (docs/json.md)");
    infoCommand->callback([&context, info] { runListing(context, "info", *info); });

    auto list = std::make_shared<ListOptions>();
    CLI::App* listCommand = app.add_subcommand("list", "List the files of the directory");
    listCommand
        ->add_option("IMAGE", list->paths,
                     "FLEX disk image (.dsk); several, or folders of them, give IMAGE: lines")
        ->required();
    CLI::Option* json =
        listCommand->add_flag("--json", list->json, "Print a JSON document (docs/json.md)");
    listCommand->add_flag("--names", list->names, "Print only the names, one NAME.EXT a line")
        ->excludes(json);
    listCommand->add_flag("--deleted", list->deleted,
                          "Also list deleted entries (?STROID.DOC), each with whether undelete "
                          "can bring it back");
    addJobsOption(*listCommand, list->jobs);
    listCommand->callback([&context, list] {
        if (!severalImages(list->paths)) {
            list->image = list->paths.front();
            return runListing(context, "list", *list);
        }
        runOnImages(context, {"list", list->paths, list->jobs, list->json},
                    [list](CliContext& one, const std::string& image) {
                        ListOptions options = *list;
                        options.image = image;
                        runListing(one, "list", options);
                    });
    });
}

} // namespace dwcli
