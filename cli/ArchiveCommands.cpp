#include "cli/Commands.h"
#include "cli/FileNames.h"

#include "engine/ImageWalk.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <thread>

namespace dwcli {

namespace {

// Each line of `text` after `prefix`.
std::string prefixed(const std::string& text, const std::string& prefix) {
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        result.append(prefix).append(text, at, end - at);
        at = end;
    }
    return result;
}

// One file of the walk, in a context of its own.
void workOn(CliContext& context, const ImageSet& set, const dw::FoundFile& file,
            const OneImage& one) {
    const dw::Status found = dw::examineFound(file);
    if (found.code() == dw::ErrorCode::BadImage) {
        context.detail(
            safeText(file.path) + ": skipped: " +
            (found.fact().empty() ? found.text() : "not a FLEX disk image: " + found.fact()));
        return;
    }
    if (found.ok()) {
        one(context, file.path);
        return;
    }
    Json document = jsonDocument(set.command, file.path);
    JsonScope scope(context, document, set.json);
    context.error(file.path, "cannot read the folder", found.systemError());
    scope.finish();
}

// Matches as "NAME.EXT" lines, or one document each; an image that fails adds a document of
// its errors.
void findIn(CliContext& context, const std::string& image, const std::string& pattern, bool json) {
    Json failed = jsonDocument("find", image);
    JsonScope scope(context, failed, json);
    dw::Listing listing;
    if (openListed(context, image, listing, false)) {
        for (const dw::DirectoryEntry* e : selectFiles(listing.entries, {pattern}).files) {
            if (!json) {
                context.io.out << shownName(*e) << '\n';
                continue;
            }
            Json match = jsonDocument("find", image);
            match.update(jsonEntry(*e));
            printDocument(context.io.out, match, true);
        }
    }
    if (context.exitCode != ExitSuccess)
        scope.finish();
}

} // namespace

bool severalImages(const std::vector<std::string>& paths) {
    std::error_code error;
    return paths.size() != 1 || std::filesystem::is_directory(paths.front(), error);
}

void addJsonFlag(CLI::App& command, bool& json) {
    command.add_flag("--json", json, "Print a JSON document of what was done (docs/json.md)");
}

void addJobsOption(CLI::App& command, unsigned& jobs) {
    jobs = std::max(1u, std::thread::hardware_concurrency());
    command
        .add_option("-j,--jobs", jobs,
                    "Images worked on at once (default: the number of cores); the output "
                    "keeps the order of the paths and of the walk")
        ->check(CLI::Range(1u, 256u));
}

void runOnImages(CliContext& context, const ImageSet& set, const OneImage& one) {
    dw::ImageWalk walk(set.paths);
    dw::workInOrder(walk, set.jobs, [&](const dw::FoundFile& file) -> dw::Delivery {
        std::istringstream none;
        std::ostringstream out;
        std::ostringstream err;
        CliIo io{none, out, err, false};
        CliContext image{io};
        image.quiet = context.quiet;
        image.verbose = context.verbose;
        workOn(image, set, file, one);
        return [&context, &set, path = file.path, out = out.str(), err = err.str(),
                code = image.exitCode] {
            if (!err.empty()) {
                context.io.out.flush(); // so that messages stay beside their image's lines
                context.io.err << err;
            }
            if (code != ExitSuccess)
                context.exitCode = code;
            errno = 0;
            context.io.out << (set.json ? out : prefixed(out, safeText(path) + ": "));
            // No output, no point in going on: said once, with the reason of the failed write.
            return context.io.out || context.checkOutput(errno);
        };
    });
}

void addFindCommand(CLI::App& app, CliContext& context) {
    struct FindOptions {
        std::string pattern;
        ImageSet set{"find"};
    };
    auto find = std::make_shared<FindOptions>();
    CLI::App* command = app.add_subcommand(
        "find", "Find files by name or pattern in images and folders of images, one "
                "IMAGE: NAME.EXT line per match");
    command
        ->add_option("PATTERN", find->pattern,
                     "A name in any letter case, or a pattern with * ? [...]")
        ->required();
    command
        ->add_option("PATH", find->set.paths,
                     "FLEX disk images, and folders searched for them recursively")
        ->required();
    command->add_flag("--json", find->set.json, "Print one JSON document per match (docs/json.md)");
    addJobsOption(*command, find->set.jobs);
    command->callback([&context, find] {
        runOnImages(context, find->set, [find](CliContext& one, const std::string& image) {
            findIn(one, image, find->pattern, find->set.json);
        });
    });
}

} // namespace dwcli
