#include "cli/Commands.h"

#include "engine/Create.h"

#include <cerrno>
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
    bool json = false;
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
    command
        ->add_option("IMAGE", o->image, "The new disk image (.dsk); - writes it to standard output")
        ->required();
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
    addJsonFlag(*command, o->json);
    command->callback([&context, o, sectors] {
        o->sectorsGiven = sectors->count() > 0;
        const bool toStdout = o->image == "-";
        if (toStdout && o->json)
            throw CLI::ValidationError("create", "--json and - would both write to standard "
                                                 "output");
        const std::string shown = toStdout ? "standard output" : o->image;
        const dw::FormatParameters p = parameters(*o);
        Json document = jsonDocument("create", o->image);
        JsonScope scope(context, document, o->json);
        dw::Status status = dw::checkFormatLimits(p);
        errno = 0;
        std::string notice;
        dw::NullProgress progress;
        if (status.ok() && toStdout) {
            status =
                dw::CreateBlankImage(p, context.io.out, dw::currentLocalDate(), progress).status;
            if (!context.checkOutput(status.ok() ? 0 : errno))
                return;
        } else if (status.ok()) {
            status = dw::createImageFile(o->image, p, dw::currentLocalDate(), progress, o->force,
                                         &notice);
        }
        const int reason = errno;
        if (!status.ok()) {
            const bool system = status.code() == dw::ErrorCode::OpenFailed ||
                                status.code() == dw::ErrorCode::WriteFailed;
            const std::string text = status.code() == dw::ErrorCode::Exists
                                         ? "already exists; it was left unchanged (use --force)"
                                         : status.text();
            context.error(shown, text, system ? reason : 0);
            if (o->json)
                printDocument(context.io.out, document, false);
            return;
        }
        const bool flex = p.format == dw::DiskFormat::Flex;
        const std::int64_t perTrack = dw::sectorsPerTrack(p);
        std::string text = (toStdout ? "Wrote to standard output" : "Created " + o->image) + ": " +
                           (flex ? "FLEX" : "OS9") + ", " + std::to_string(p.tracks) + " tracks, " +
                           std::to_string(perTrack) + " sectors per track";
        if (dw::trackZeroSectors(p) != perTrack)
            text += " (track 0: " + std::to_string(dw::trackZeroSectors(p)) + ")";
        if (flex)
            text += ", " + std::to_string((p.tracks - 1) * perTrack) + " free sectors";
        context.report(text);
        if (!notice.empty())
            context.io.message(notice);
        document["layout"] = o->format;
        document["tracks"] = p.tracks;
        document["sectorsPerTrack"] = perTrack;
        document["track0Sectors"] = dw::trackZeroSectors(p);
        document["sides"] = o->sides;
        document["density"] = o->density;
        document["label"] = dw::effectiveVolumeName(p);
        document["bootSector"] = flex && p.includeBootSector ? o->boot : "none";
        if (flex)
            document["remainingSectors"] = (p.tracks - 1) * perTrack;
        if (o->json)
            printDocument(context.io.out, document, true);
    });
}

} // namespace dwcli
