#include "cli/Commands.h"

#include "engine/Repair.h"

#include <memory>
#include <ostream>

namespace dwcli {

namespace {

struct RepairOptions {
    std::string image;
    bool yes = false;
    bool json = false;
};

std::string sectorsText(const std::vector<dw::SectorLink>& sectors) {
    return sectorRuns(sectors) + " (" + std::to_string(sectors.size()) +
           (sectors.size() == 1 ? " sector)" : " sectors)");
}

// What the repair will change, one line each.
std::vector<std::string> planLines(const std::string& path, const dw::RepairPlan& plan) {
    const dw::SystemInformationRecord& was = plan.before;
    const dw::SystemInformationRecord& will = plan.after;
    std::vector<std::string> lines{
        path + ": the free chain will be rebuilt in track and sector order from every data "
               "sector that no file and no directory sector owns",
        "  SIR: first free " + dw::linkText(will.firstFree) + " (was " +
            dw::linkText(was.firstFree) + "), last free " + dw::linkText(will.lastFree) + " (was " +
            dw::linkText(was.lastFree) + "), free sectors " + std::to_string(will.freeSectorCount) +
            " (was " + std::to_string(was.freeSectorCount) + ")"};
    if (!plan.oldChainProblem.empty())
        lines.push_back("  the old free chain is damaged: " + plan.oldChainProblem);
    if (!plan.added.empty())
        lines.push_back("  joining the free chain: " + sectorsText(plan.added));
    if (!plan.dropped.empty())
        lines.push_back("  leaving the free chain: " + sectorsText(plan.dropped));
    if (!plan.kept.empty())
        lines.push_back("  kept out of it, as entries still name them: " + sectorsText(plan.kept));
    lines.push_back("  links to rewrite: " + std::to_string(plan.relinked) +
                    "; files and the directory stay as they are");
    return lines;
}

Json jsonSir(const dw::SystemInformationRecord& sir) {
    Json object;
    putLink(object, "firstFree", sir.firstFree);
    putLink(object, "lastFree", sir.lastFree);
    object["freeSectors"] = sir.freeSectorCount;
    return object;
}

Json jsonLinks(const std::vector<dw::SectorLink>& sectors) {
    Json list = Json::array();
    for (dw::SectorLink link : sectors)
        list.push_back(jsonLink(link));
    return list;
}

void runRepair(CliContext& context, const RepairOptions& options) {
    Json document = jsonDocument("repair", options.image);
    JsonScope scope(context, document, options.json);
    std::unique_ptr<dw::DiskImage> image = openImage(context, options.image, true);
    if (!image)
        return scope.finish();
    dw::RepairPlan plan;
    const dw::Status planned = dw::planRepair(*image, plan);
    if (!planned.ok()) {
        context.error(options.image, planned.text());
        return scope.finish();
    }
    document["needed"] = plan.needed;
    document["repaired"] = false;
    if (!plan.needed) {
        context.report(options.image + ": the free chain is sound; nothing to repair");
        return scope.finish();
    }
    document["before"] = jsonSir(plan.before);
    document["after"] = jsonSir(plan.after);
    document["added"] = jsonLinks(plan.added);
    document["dropped"] = jsonLinks(plan.dropped);
    document["kept"] = jsonLinks(plan.kept);
    document["relinked"] = plan.relinked;
    if (!plan.oldChainProblem.empty())
        document["oldChainProblem"] = plan.oldChainProblem;

    for (const std::string& line : planLines(options.image, plan)) {
        if (options.yes)
            context.report(line);
        else
            context.io.message(line);
    }
    const std::string backup = options.image + ".bak";
    if (!options.yes) {
        if (!context.io.interactive) {
            context.error(options.image, "repairing asks before it writes; without a terminal "
                                         "give --yes. Nothing was changed");
            return scope.finish();
        }
        if (!context.io.askYesNo("Repair it, keeping the old image as " + backup + "?")) {
            context.error(options.image, "nothing was changed");
            return scope.finish();
        }
    }
    if (const dw::Status copied = dw::copyImageTo(*image, backup); !copied.ok()) {
        context.error(options.image, copied.text());
        return scope.finish();
    }
    document["backup"] = backup;
    const dw::Status applied = dw::applyRepair(*image, plan);
    if (!applied.ok()) {
        image->discardWrites(); // half a chain would be worse than the old one
        context.error(options.image, applied.text() + "; nothing was changed");
        return scope.finish();
    }
    if (!commitImage(context, options.image, *image))
        return scope.finish();
    document["repaired"] = true;
    context.report("Repaired " + options.image + "; the old image is " + backup);
    scope.finish();
}

} // namespace

void addRepairCommand(CLI::App& app, CliContext& context) {
    auto options = std::make_shared<RepairOptions>();
    CLI::App* command = app.add_subcommand(
        "repair", "Rebuild the free chain from every data sector that no file and no directory "
                  "sector owns, and set the SIR to match; files stay as they are, and the old "
                  "image is kept as IMAGE.bak");
    command->add_option("IMAGE", options->image, "FLEX disk image (.dsk)")->required();
    command->add_flag("-y,--yes", options->yes,
                      "Repair without asking (needed without a terminal)");
    command->add_flag("--json", options->json,
                      "Print a JSON document of what was found and done (docs/json.md)");
    command->callback([&context, options] { runRepair(context, *options); });
}

} // namespace dwcli
