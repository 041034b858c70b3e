#pragma once

// Each command lives in its own file and adds itself to the application here, with what they
// share: the error form, reports, and opening an image.

#include "cli/Cli.h"
#include "cli/Json.h"

#include "engine/Directory.h"
#include "engine/DiskImage.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace dwcli {

inline constexpr const char* ProgramName = "diskwright-cli";

struct CliContext {
    CliIo& io;
    int exitCode = ExitSuccess;
    bool quiet = false;       // -q: no per-file reports
    bool verbose = false;     // -v: a line per sector run or step
    Json* document = nullptr; // the --json document of the running command, if any

    // "diskwright-cli: SUBJECT: WHAT[: the system's reason]" on stderr (and in the JSON
    // document's errors); the command fails with 1. `errnoValue` 0 gives no reason.
    void error(const std::string& subject, const std::string& what, int errnoValue = 0);
    // "diskwright-cli: SUBJECT: warning: WHAT" on stderr (and in the JSON document's warnings);
    // the command does not fail for it.
    void warn(const std::string& subject, const std::string& what);
    void report(const std::string& text); // stderr unless -q
    void detail(const std::string& text); // stderr with -v
    // Flushes standard output; when it could not be written (a full disk) says
    // so once and fails the command. Returns whether the output is whole so far. `failedWith`:
    // the errno of a write that is known to have failed already, else 0.
    bool checkOutput(int failedWith = 0);
    bool outputFailed = false; // checkOutput has said so
};

// While a command with --json runs, its errors also go into its document; finish() prints it.
class JsonScope {
public:
    JsonScope(CliContext& context, Json& document, bool json)
        : context_(context), document_(document), json_(json) {
        if (json)
            context_.document = &document;
    }
    ~JsonScope() { context_.document = nullptr; }
    JsonScope(const JsonScope&) = delete;
    JsonScope& operator=(const JsonScope&) = delete;

    void finish() {
        if (json_)
            printDocument(context_.io.out, document_, context_.exitCode == ExitSuccess);
    }

private:
    CliContext& context_;
    Json& document_;
    bool json_;
};

// Opens the image and reads its SIR; reports and returns nullptr on failure. A file whose SIR
// cannot be used is "not a FLEX disk image". Every command opens the image read-write where it
// can, so that an interrupted change is undone in the file; `forChange` refuses an image that
// can only be read, or is shorter than its geometry. The image stays held for the whole
// command: shared for reading, and for a change alone until commitImage.
std::unique_ptr<dw::DiskImage> openImage(CliContext& context, const std::string& path,
                                         bool forChange);

// openImage, then the listing. A damaged directory is reported and the entries found before
// the damage stay usable; any other failure returns nullptr.
std::unique_ptr<dw::DiskImage> openListed(CliContext& context, const std::string& path,
                                          dw::Listing& listing, bool forChange);

// Ends the command's change: what it did is written, or on failure (reported) the image stays
// as it was.
bool commitImage(CliContext& context, const std::string& path, dw::DiskImage& image);

// The lines that tell what a change did, held until it is committed: one that fails to commit
// did nothing.
class DoneLines {
public:
    void report(std::string text) { lines_.emplace_back(false, std::move(text)); }
    void detail(std::string text) { lines_.emplace_back(true, std::move(text)); }
    void tell(CliContext& context) const {
        for (const auto& [detail, text] : lines_)
            detail ? context.detail(text) : context.report(text);
    }

private:
    std::vector<std::pair<bool, std::string>> lines_; // (a -v detail, the text)
};

// "001-001..001-005 002-001": a chain's sectors as runs of consecutive sectors.
std::string sectorRuns(const std::vector<dw::SectorLink>& sectors);

// The sectors of a file's chain as far as its links lead (at most `count`, bounded).
std::vector<dw::SectorLink> chainSectors(dw::DiskImage& image, dw::SectorLink start,
                                         std::size_t count);

// Text for the terminal: control bytes as \xNN, line breaks of the program's texts kept, any
// other byte (UTF-8 paths) as it is.
std::string safeText(const std::string& text);

// A live entry's fields in a --json document (name, extension, random, date, start, end, sectors).
Json jsonEntry(const dw::DirectoryEntry& e);

// Several images at once (list, check, find): each PATH an image or a folder, walked by the
// engine. Each image runs the one-image form into buffers of its own, `jobs` at a time; what it
// printed comes in walk order, every standard output line after "IMAGE: " (a --json document
// as it is). A file found in a folder that is no FLEX image is skipped (named with -v).
struct ImageSet {
    std::string command;
    std::vector<std::string> paths;
    unsigned jobs = 1;
    bool json = false;
};
using OneImage = std::function<void(CliContext& context, const std::string& image)>;
void runOnImages(CliContext& context, const ImageSet& set, const OneImage& one);
// Whether the paths ask for the several-image form: more than one, or a folder.
bool severalImages(const std::vector<std::string>& paths);
// --jobs N, by default the number of cores.
void addJobsOption(CLI::App& command, unsigned& jobs);
// --json on a command that changes or writes something.
void addJsonFlag(CLI::App& command, bool& json);

void addInfoCommands(CLI::App& app, CliContext& context);   // info, list
void addFindCommand(CLI::App& app, CliContext& context);    // find
void addExportCommands(CLI::App& app, CliContext& context); // export, cat
void addDeleteCommands(CLI::App& app, CliContext& context); // delete, check
void addImportCommand(CLI::App& app, CliContext& context);  // import
void addCreateCommand(CLI::App& app, CliContext& context);  // create
void addRepairCommand(CLI::App& app, CliContext& context);  // repair
void addLinkCommand(CLI::App& app, CliContext& context);    // link
void addCopyCommand(CLI::App& app, CliContext& context);    // copy
void addVolumeCommands(CLI::App& app, CliContext& context); // rename, label, undelete

} // namespace dwcli
