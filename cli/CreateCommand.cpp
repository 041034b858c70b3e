#include "cli/Commands.h"

#include "engine/Create.h"

#include <map>
#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct CreateOptions {
    std::string image;
    std::string label;
    std::string format = "flex";
    int tracks = 80;
    int sectors = 0;           // per side
    bool sectorsGiven = false; // else the density's preset
    std::string density = "double";
    int sides = 2;
    std::string boot = "6809";
    bool force = false;
    int trackZeroSectors = 0; // 0: as many as the other tracks
};

dw::FormatParameters parameters(const CreateOptions& o) {
    static const std::map<std::string, int> presets = {{"single", dw::SingleDensitySectors},
                                                       {"double", dw::DoubleDensitySectors},
                                                       {"quad", dw::QuadDensitySectors}};
    dw::FormatParameters p;
    p.format = o.format == "os9" ? dw::DiskFormat::Os9 : dw::DiskFormat::Flex;
    p.tracks = o.tracks;
    p.sectorsPerSide = o.sectorsGiven ? o.sectors : presets.at(o.density);
    p.doubleSided = o.sides == 2;
    p.singleDensity = o.density == "single";
    p.includeBootSector = o.boot != "none";
    p.processor = o.boot == "6800" ? dw::Processor::M6800 : dw::Processor::M6809;
    p.volumeName = o.label;
    p.trackZeroSectors = o.trackZeroSectors;
    return p;
}

} // namespace

void addCreateCommand(CLI::App& app, CliContext& context) {
    auto o = std::make_shared<CreateOptions>();
    CLI::App* command = app.add_subcommand("create", "Create a new, empty, formatted disk image");
    command->add_option("IMAGE", o->image, "The new disk image (.dsk)")->required();
    command->add_option("--label", o->label, "Volume name (FLEX: upper-cased, 11 characters kept)");
    command->add_option("--format", o->format, "Layout")
        ->check(CLI::IsMember({"flex", "os9"}))
        ->capture_default_str();
    command->add_option("--tracks", o->tracks, "Number of tracks (at most 256)")
        ->capture_default_str();
    CLI::Option* sectors = command->add_option(
        "--sectors", o->sectors, "Sectors per side (default: the density's: 10, 18 or 36)");
    command->add_option("--density", o->density, "Sets the sectors per side")
        ->check(CLI::IsMember({"single", "double", "quad"}))
        ->capture_default_str();
    command->add_option("--sides", o->sides, "Sides")
        ->check(CLI::IsMember({1, 2}))
        ->capture_default_str();
    command->add_option("--boot", o->boot, "Boot sector (FLEX only)")
        ->check(CLI::IsMember({"6800", "6809", "none"}))
        ->capture_default_str();
    command->add_option("--track0-sectors", o->trackZeroSectors,
                        "FLEX: sectors of track 0, from 5 to the sectors per track "
                        "(default: as many as the other tracks)");
    command->add_flag("--force", o->force, "Replace an existing file");
    command->callback([&context, o, sectors] {
        o->sectorsGiven = sectors->count() > 0;
        const dw::FormatParameters p = parameters(*o);
        dw::Status status = dw::checkFormatLimits(p);
        if (status.ok()) {
            dw::NullProgress progress;
            status = dw::createImageFile(o->image, p, dw::currentLocalDate(), progress, o->force);
        }
        if (!status.ok()) {
            context.io.message(status.text());
            context.exitCode = ExitFailure;
            return;
        }
        std::ostream& out = context.io.out;
        out << "Created " << o->image << ": " << (p.format == dw::DiskFormat::Flex ? "FLEX" : "OS9")
            << ", " << p.tracks << " tracks, " << dw::sectorsPerTrack(p) << " sectors per track";
        if (dw::trackZeroSectors(p) != dw::sectorsPerTrack(p))
            out << " (track 0: " << dw::trackZeroSectors(p) << ")";
        if (p.format == dw::DiskFormat::Flex)
            out << ", " << (p.tracks - 1) * dw::sectorsPerTrack(p) << " free sectors";
        out << '\n';
    });
}

} // namespace dwcli
