#pragma once

// Copying host files into the open image: the 8.3 name, replacement of a file of the same
// name, allocation from the head of the free chain, binary or text copy, and the commit of the
// chain end, the SIR and the directory entry.

#include "engine/DiskImage.h"
#include "engine/FlexName.h"
#include "engine/SectorMap.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dw {

// Every question of an import, answered by each front end its own way.
class ImportQuestions {
public:
    virtual ~ImportQuestions() = default;
    // The 8.3 name: `text` holds the preset on entry and the answer on return; false = Cancel.
    virtual bool askName(std::string& text) = 0;
    virtual bool askYesNo(const std::string& question) = 0; // replace? binary? partial? warning
    virtual void tell(const std::string& message) = 0;      // OK messages
    // A failure, for front ends that word some of their own (the system's reason for a host
    // file that cannot be opened); by default its text is told.
    virtual void tellFailure(const Status& status) { tell(status.text()); }

    // The single questions, for front ends that answer them from settings of their own.
    virtual bool askReplace(const std::string& question) { return askYesNo(question); }
    virtual bool askBinary(const std::string& question) { return askYesNo(question); }
    virtual bool askPartial(const std::string& question) { return askYesNo(question); }
};

enum class ImportMode {
    Auto,   // the options decide, with the binary question on an unusual first byte
    Text,   // text whatever the first byte; line feeds follow stripLineFeeds
    Binary, // 252-byte blocks, no question
};

struct ImportOptions {
    bool stripLineFeeds = true;
    bool compressSpaces = true;
    bool compactBinary = false;
    ImportMode mode = ImportMode::Auto;
    // Text mode stores runs of 3 or more spaces as FLEX space compression (see
    // SpaceCompression.h). Not the window's "Compress Spaces", which never compresses.
    bool applySpaceCompression = false;
    // The entry takes the host file's modification date instead of today's (see hostFileDate).
    bool keepHostDates = false;
};

struct ImportResult {
    Status status;
    bool committed = false;
    std::string flexName; // "NAME.EXT"
    std::uint16_t sectorsUsed = 0;
    bool text = false; // copied in text mode
};

// A FLEX file ready to be written: its entry's fields and the data of its sectors.
struct FlexFile {
    FlexName name; // upper-case, as the entry holds it
    LocalDate date;
    std::uint8_t randomFlag = 0;    // non-zero: a random file
    std::vector<std::uint8_t> data; // 252 bytes to a sector, the last sector padded with zeros
    std::size_t sectors = 0;        // sectors it fills: those of `data`, or one empty one more
};

// Writes `file` into `slot` of the map (the slot that ends the directory, or that of a file just
// deleted), in the first `sectors` sectors of the free chain (at most as many as it holds), and
// the map follows. `slot` NoEntry (every slot in use) first grows the directory by the free
// chain's first sector, zeroed and linked at the directory's end. Records are numbered from 1;
// a random file's from its third sector, its sector map's two being 0. No sectors: the entry alone,
// with 0/0 links. The map must come from the running change. Refuses, before anything is
// written, a damaged directory or free chain and records that are not theirs alone (Damaged).
Status writeFlexFile(DiskImage& image, SectorMap& map, std::size_t slot, const FlexFile& file,
                     std::size_t sectors);

// What a new file in `slot` needs sound, besides its sectors: the directory, the free chain it
// takes them from, and the records it rewrites. Empty words when all is well.
ChainDamage storeDamage(const SectorMap& map, std::size_t slot);

// One host file into the open image; reads the SIR afresh. `flexNameOverride` (optional
// "NAME.EXT") replaces the name taken from the host path. Every failure but a Cancelled one
// (the user declined a question) has been told through `questions.tell` before it returns.
ImportResult importFile(DiskImage& image, const std::string& hostPath, const ImportOptions& options,
                        ImportQuestions& questions, const std::string& flexNameOverride = {});

// Many host files into one image in one command, each imported as importFile would import it:
// the directory, and the sectors that the directory and the live files own (which no import may
// write over), are read once and then kept up to date, instead of being read again for every
// file. The SIR is still read afresh for each file; when it or the image's length is not what
// the session last left, everything is read again.
class ImportSession {
public:
    ImportSession(DiskImage& image, const ImportOptions& options, ImportQuestions& questions);
    ~ImportSession();
    ImportSession(const ImportSession&) = delete;
    ImportSession& operator=(const ImportSession&) = delete;

    ImportResult importFile(const std::string& hostPath, const std::string& flexNameOverride = {});
    // Bytes that come from no host file of their own (a converted program file) under
    // `flexName`, as importFile would import a file that held them; `shownSource` names them in
    // messages. The entry takes `entryDate` when given, else today's date.
    ImportResult importBytes(std::vector<std::uint8_t> bytes, const std::string& flexName,
                             const std::string& shownSource,
                             std::optional<LocalDate> entryDate = std::nullopt);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The one-time warning ("Binary Compaction, and Space Compression have not..."): the caller
// keeps `warned` for its whole run. Returns false when the user declined (the command ends).
bool confirmCompactionWarning(const ImportOptions& options, bool& warned,
                              ImportQuestions& questions);

// The program's fixed texts.
extern const char* const CompactionWarning;
extern const char* const ReplaceQuestion;
extern const char* const DiskFullQuestion;
extern const char* const FullDirectoryText; // no free sector to grow the directory and hold a file
// `pcName` is the host name as "%s.%s" of its name part and extension.
std::string binaryQuestion(const std::string& pcName);
std::string firstFreeLinkMessage(SectorLink link); // the "next user track/sector" texts
std::string endLinkMessage(SectorLink endLink);    // the "File End Track/Sector" texts

} // namespace dw
