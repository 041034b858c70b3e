#include "cli/Commands.h"
#include "cli/FileNames.h"
#include "cli/Json.h"

#include "engine/Directory.h"
#include "engine/Texts.h"

#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct ListOptions {
    std::string image;
    bool json = false;
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

std::string jsonEntry(const dw::DirectoryEntry& e) {
    const dw::RowTexts cells = dw::rowTexts(e);
    return "{\"name\": " + jsonString(e.name()) + ", \"extension\": " + jsonString(e.ext()) +
           ", \"random\": " + (e.randomFlag ? "true" : "false") +
           ", \"date\": " + jsonString(cells[3]) + ", \"start\": " + jsonString(cells[4]) +
           ", \"end\": " + jsonString(cells[5]) +
           ", \"sectors\": " + std::to_string(e.sectorCount) + "}";
}

std::string jsonVolume(const dw::Listing& listing, const dw::ImageLayout& layout) {
    const dw::SystemInformationRecord& sir = listing.sir;
    return "\"volumeLabel\": " + jsonString(sir.label()) +
           ", \"volumeNumber\": " + std::to_string(sir.volumeNumber) +
           ", \"creationDate\": " + jsonString(dw::creationDateText(sir)) +
           ", \"remainingSectors\": " + std::to_string(sir.freeSectorCount) +
           ", \"fileCount\": " + std::to_string(listing.entries.size()) +
           ", \"track0Sectors\": " + std::to_string(layout.trackZeroSectors) +
           ", \"headerBytes\": " + std::to_string(layout.headerBytes);
}

// Opens read-only: listing never writes. Reports and returns false on a refused image.
bool openAndList(CliContext& context, const std::string& path, dw::Listing& listing,
                 dw::ImageLayout& layout, dw::Status& damage) {
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::openReadOnly(path, image);
    if (status.ok()) {
        status = dw::readListing(*image, listing);
        layout = image->layout();
    }
    if (status.ok())
        return true;
    if (status.code() == dw::ErrorCode::Damaged) {
        damage = status;
        return true;
    }
    context.io.message(path + ": " + status.text());
    context.exitCode = ExitFailure;
    return false;
}

void finish(CliContext& context, const std::string& path, const dw::Status& damage) {
    if (damage.ok())
        return;
    context.io.message(path + ": " + damage.text());
    context.exitCode = ExitFailure;
}

} // namespace

void addInfoCommands(CLI::App& app, CliContext& context) {
    auto info = std::make_shared<ListOptions>();
    CLI::App* infoCommand =
        app.add_subcommand("info", "Show the volume label and number, creation date, "
                                   "remaining sectors and file count");
    infoCommand->add_option("IMAGE", info->image, "FLEX disk image (.dsk)")->required();
    infoCommand->add_flag("--json", info->json, "Print JSON for scripts");
    infoCommand->callback([&context, info] {
        dw::Listing listing;
        dw::ImageLayout layout;
        dw::Status damage;
        if (!openAndList(context, info->image, listing, layout, damage))
            return;
        std::ostream& out = context.io.out;
        const int files = static_cast<int>(listing.entries.size());
        if (info->json) {
            out << "{" << jsonVolume(listing, layout) << "}\n";
        } else {
            out << "Volume Label       " << printable(dw::volumeLabelText(listing.sir)) << '\n'
                << "Creation Date      " << dw::creationDateText(listing.sir) << '\n'
                << "Remaining Sectors  " << dw::remainingSectorsText(listing.sir.freeSectorCount)
                << '\n'
                << "File Count         " << dw::fileCountText(files) << '\n'
                << "Track 0 Sectors    " << int{layout.trackZeroSectors} << '\n'
                << "Header Bytes       " << layout.headerBytes << '\n';
        }
        finish(context, info->image, damage);
    });

    auto list = std::make_shared<ListOptions>();
    CLI::App* listCommand = app.add_subcommand("list", "List the files of the directory");
    listCommand->add_option("IMAGE", list->image, "FLEX disk image (.dsk)")->required();
    listCommand->add_flag("--json", list->json, "Print JSON for scripts");
    listCommand->callback([&context, list] {
        dw::Listing listing;
        dw::ImageLayout layout;
        dw::Status damage;
        if (!openAndList(context, list->image, listing, layout, damage))
            return;
        std::ostream& out = context.io.out;
        if (list->json) {
            out << "{" << jsonVolume(listing, layout) << ", \"files\": [";
            for (std::size_t i = 0; i < listing.entries.size(); ++i)
                out << (i ? ", " : "") << jsonEntry(listing.entries[i]);
            out << "]";
            if (!damage.ok())
                out << ", \"damage\": " << jsonString(damage.text());
            out << "}\n";
        } else {
            dw::RowTexts titles;
            for (int i = 0; i < dw::ColumnCount; ++i)
                titles[i] = dw::FileColumns[i].title;
            out << rowLine(titles) << '\n';
            for (const dw::DirectoryEntry& e : listing.entries)
                out << rowLine(dw::rowTexts(e)) << '\n';
        }
        finish(context, list->image, damage);
    });
}

} // namespace dwcli
