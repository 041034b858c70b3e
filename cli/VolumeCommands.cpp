#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/FlexName.h"
#include "engine/Rename.h"
#include "engine/Texts.h"
#include "engine/Undelete.h"
#include "engine/Volume.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace dwcli {

namespace {

struct NameArguments {
    std::string image;
    std::string from; // rename: OLD; undelete: NAME as list --deleted shows it
    std::string to;   // rename: NEW; undelete: --as
    bool json = false;
};

struct LabelArguments {
    std::string image;
    std::optional<std::string> label;
    std::optional<int> number;
    std::optional<std::string> date;
    bool json = false;
};

// Runs one engine change on the image and writes it; the success line waits for the commit.
void runChange(CliContext& context, Json& document, bool json, const std::string& path,
               const std::function<dw::Status(dw::DiskImage&)>& change,
               const std::function<std::string(dw::DiskImage&)>& success) {
    JsonScope scope(context, document, json);
    std::unique_ptr<dw::DiskImage> image = openImage(context, path, true);
    if (!image)
        return scope.finish();
    const dw::Status status = change(*image);
    if (!status.ok())
        context.error(path, printable(status.text()));
    else if (commitImage(context, path, *image))
        context.report(success(*image));
    scope.finish();
}

void runRename(CliContext& context, const NameArguments& args) {
    Json document = jsonDocument("rename", args.image);
    // A whole name without a dot has an empty extension, as in the other commands.
    const std::string from = args.from.find('.') == std::string::npos ? args.from + "." : args.from;
    document["from"] = from;
    const std::optional<dw::FlexName> to = dw::typedFlexName(args.to);
    document["to"] = to ? to->text() : args.to;
    runChange(
        context, document, args.json, args.image,
        [&](dw::DiskImage& image) { return dw::renameFile(image, from, args.to); },
        [&](dw::DiskImage&) {
            return printable(from) + " -> " + document["to"].get<std::string>();
        });
}

std::optional<dw::LocalDate> parseDate(const std::string& text) {
    int year = 0;
    int month = 0;
    int day = 0;
    char end = 0;
    if (text.size() != 10 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3)
        return std::nullopt;
    return dw::LocalDate{year, month, day};
}

void runLabel(CliContext& context, const LabelArguments& args) {
    if (!args.label && !args.number && !args.date)
        throw CLI::ValidationError("label", "give --label, --number or --date");
    dw::VolumeFields fields;
    fields.label = args.label;
    if (args.number)
        fields.number = static_cast<std::uint16_t>(*args.number);
    if (args.date && !(fields.date = parseDate(*args.date)))
        throw CLI::ValidationError("label", "--date " + *args.date + ": not a date YYYY-MM-DD");
    Json document = jsonDocument("label", args.image);
    runChange(
        context, document, args.json, args.image,
        [&](dw::DiskImage& image) { return dw::setVolume(image, fields); },
        [&](dw::DiskImage& image) {
            dw::SystemInformationRecord sir;
            if (!image.readSir(sir).ok())
                return args.image + ": volume changed";
            document["volumeLabel"] = jsonText(sir.label());
            document["volumeNumber"] = sir.volumeNumber;
            document["creationDate"] = dw::creationDateText(sir);
            return args.image + ": " + printable(dw::volumeLabelText(sir)) + ", created " +
                   dw::creationDateText(sir);
        });
}

std::string deletedText(const dw::DeletedFile& file) {
    return printable(dw::deletedName(file.entry) + "." + file.entry.ext());
}

void runUndelete(CliContext& context, const NameArguments& args) {
    Json document = jsonDocument("undelete", args.image);
    document["name"] = args.from;
    document["as"] = args.to;
    std::string done; // the success line
    runChange(
        context, document, args.json, args.image,
        [&](dw::DiskImage& image) -> dw::Status {
            std::vector<dw::DeletedFile> deleted;
            dw::Status status = dw::listDeleted(image, deleted);
            if (!status.ok())
                return status;
            std::vector<const dw::DeletedFile*> found;
            for (const dw::DeletedFile& file : deleted)
                if (nameMatches(args.from, dw::deletedName(file.entry) + "." + file.entry.ext()))
                    found.push_back(&file);
            if (found.size() != 1) {
                std::string names;
                for (const dw::DeletedFile* file : found)
                    names += " " + deletedText(*file);
                return {dw::ErrorCode::NotFound,
                        (found.empty() ? "no deleted file matches '" + printable(args.from) +
                                             "' (list --deleted shows them)"
                                       : "'" + printable(args.from) + "' matches " +
                                             std::to_string(found.size()) +
                                             " deleted files:" + names + "; name one") +
                            "; nothing was changed"};
            }
            const dw::DeletedFile& file = *found.front();
            document["name"] = jsonText(dw::deletedName(file.entry));
            document["extension"] = jsonText(file.entry.ext());
            document["sectors"] = file.entry.sectorCount;
            const std::optional<dw::FlexName> as = dw::typedFlexName(args.to);
            if (as)
                document["as"] = as->text();
            done = deletedText(file) + " -> " + (as ? as->text() : args.to) + " (" +
                   std::to_string(file.entry.sectorCount) +
                   (file.entry.sectorCount == 1 ? " sector)" : " sectors)");
            return dw::undeleteFile(image, file.offset, args.to);
        },
        [&](dw::DiskImage&) { return done; });
}

} // namespace

void addVolumeCommands(CLI::App& app, CliContext& context) {
    auto rename = std::make_shared<NameArguments>();
    CLI::App* renameCommand = app.add_subcommand(
        "rename", "Give a file another name (NAME.EXT; the extension may change)");
    renameCommand->add_option("IMAGE", rename->image, "FLEX disk image (.dsk)")->required();
    renameCommand->add_option("OLD", rename->from, "The file's name, in any letter case")
        ->required();
    renameCommand->add_option("NEW", rename->to, "Its new name: NAME.EXT, stored in upper case")
        ->required();
    addJsonFlag(*renameCommand, rename->json);
    renameCommand->callback([&context, rename] { runRename(context, *rename); });

    auto label = std::make_shared<LabelArguments>();
    CLI::App* labelCommand =
        app.add_subcommand("label", "Set the volume's label, number or creation date");
    labelCommand->add_option("IMAGE", label->image, "FLEX disk image (.dsk)")->required();
    labelCommand->add_option("--label", label->label,
                             "Volume label: up to 11 characters, stored in upper case");
    labelCommand->add_option("--number", label->number, "Volume number, 0 to 65535")
        ->check(CLI::Range(0, 65535));
    labelCommand->add_option("--date", label->date,
                             "Creation date, YYYY-MM-DD, of the years 1970 to 2069");
    addJsonFlag(*labelCommand, label->json);
    labelCommand->callback([&context, label] { runLabel(context, *label); });

    auto undelete = std::make_shared<NameArguments>();
    CLI::App* undeleteCommand = app.add_subcommand(
        "undelete", "Bring back a deleted file whose sectors no later file has used");
    undeleteCommand->add_option("IMAGE", undelete->image, "FLEX disk image (.dsk)")->required();
    undeleteCommand
        ->add_option("NAME.EXT", undelete->from,
                     "The deleted file as list --deleted shows it (?STROID.DOC); * and ? match "
                     "as in other commands, and it must match one deleted file")
        ->required();
    undeleteCommand->add_option("--as", undelete->to, "The name it comes back under (NAME.EXT)")
        ->required();
    addJsonFlag(*undeleteCommand, undelete->json);
    undeleteCommand->callback([&context, undelete] { runUndelete(context, *undelete); });
}

} // namespace dwcli
