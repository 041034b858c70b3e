// Sequences of imports, replacements and deletions on a small image that the engine formatted
// itself, in memory. The input chooses the geometry (with a shorter track 0 or a header at
// times), then each step: which name, which bytes, which mode, and every answer to the import's
// questions. A model of what each file must hold is kept beside the image. After every step the
// image is accounted for sector by sector here, without the engine (every sector of tracks 1
// and up in exactly one file or the free chain, each chain ending where its record says, the
// SIR's count the free chain's length), the directory must list exactly the model's names, and
// every file must read back byte for byte as the model says; at the end the engine's own check
// must agree. A refused step changes no byte (a replacement that was agreed to may have deleted
// the old file first, as the window's import does).
//
// Half the inputs then damage the image (links, the SIR's free chain, directory entries, any
// byte but the geometry) and go on with imports, deletions and repairs, as a user rescuing an
// archive would. The owners of each sector are found here, byte by byte, not by the engine's
// map: after every command each sector that a live file other than the one the command names
// owns (its chain as far as it leads, and the last sector its entry names) keeps its bytes, and
// a refused command changes no byte.

#include "engine/Check.h"
#include "engine/Create.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/Import.h"
#include "engine/Repair.h"
#include "engine/SpaceCompression.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/StoredText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using dwfuzz::require;

constexpr std::size_t DataBytes = dw::SectorDataSize; // of each sector

// Valid names (one with a blank, one that the engine upper-cases), and names that do not fit the
// 8.3 form (no extension, too long a name or extension).
constexpr std::array<const char*, 10> Names = {"ONE.TXT",       "TWO.BIN", "THREE.C",  "FOUR.X",
                                               "FIVE.DAT",      "six.txt", "SP ACE.T", "NOEXT",
                                               "TOOLONGNAME.T", "A.LONG"};

// DW_FUZZ_TRACE=1 prints every step, to follow a finding.
const bool Tracing = std::getenv("DW_FUZZ_TRACE") != nullptr;

std::string hex(const Bytes& bytes) {
    std::string text;
    char two[4];
    for (std::size_t i = 0; i < bytes.size() && i < 64; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text + (bytes.size() > 64 ? "..." : "");
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// "NAME.EXT" as the directory holds it ("THREE" has an empty extension).
std::string key(const std::string& given) {
    const std::string u = upper(given);
    return u.find('.') == std::string::npos ? u + "." : u;
}

// One to eight characters, a dot, one to three: printable ASCII, blanks too.
bool fitsFlex(const std::string& given) {
    const std::size_t dot = given.find('.');
    for (char c : given)
        if (c < 0x20 || c > 0x7E)
            return false;
    return dot != std::string::npos && dot >= 1 && dot <= 8 && given.size() - dot - 1 >= 1 &&
           given.size() - dot - 1 <= 3;
}

// Answers from the input, and what was asked.
class InputQuestions : public dwfuzz::NoToEverything {
public:
    bool replace = false, partial = false, binary = false;
    bool askedReplace = false, askedPartial = false;

    bool askReplace(const std::string&) override {
        askedReplace = true;
        return replace;
    }
    bool askBinary(const std::string&) override { return binary; }
    bool askPartial(const std::string&) override {
        askedPartial = true;
        return partial;
    }
};

dw::ImportOptions optionsFrom(FuzzedDataProvider& in) {
    dw::ImportOptions options;
    options.mode =
        in.PickValueInArray({dw::ImportMode::Auto, dw::ImportMode::Text, dw::ImportMode::Binary});
    options.stripLineFeeds = in.ConsumeBool();
    options.compressSpaces = in.ConsumeBool();
    options.applySpaceCompression = options.mode != dw::ImportMode::Binary && in.ConsumeBool();
    return options;
}

// The bytes a committed import stores, before the padding of its last sector.
Bytes storedBytes(const Bytes& source, const dw::ImportOptions& options, bool text) {
    if (!text)
        return source;
    if (options.applySpaceCompression)
        return dw::compressedText(source, options.stripLineFeeds);
    return options.stripLineFeeds ? dwtest::textStored(source) : source;
}

class Run {
public:
    explicit Run(FuzzedDataProvider& in) : in_(in) {}

    bool makeImage() {
        dw::FormatParameters p;
        p.tracks = in_.ConsumeIntegralInRange(2, 12);
        p.sectorsPerSide = in_.ConsumeIntegralInRange(5, 20);
        p.doubleSided = false;
        p.includeBootSector = in_.ConsumeBool();
        if (in_.ConsumeBool())
            p.trackZeroSectors = in_.ConsumeIntegralInRange(5, p.sectorsPerSide);
        const auto header = in_.ConsumeIntegral<std::uint8_t>() % 4 == 0
                                ? in_.ConsumeIntegralInRange<std::size_t>(1, 255)
                                : 0;
        tracks_ = p.tracks;
        perTrack_ = p.sectorsPerSide;
        trackZero_ = p.trackZeroSectors != 0 ? p.trackZeroSectors : p.sectorsPerSide;
        header_ = header;
        std::ostringstream out;
        dw::NullProgress progress;
        if (dw::CreateBlankImage(p, out, dw::LocalDate{2024, 5, 6, 7, 8}, progress).outcome !=
            dw::CreateOutcome::Completed)
            return false;
        const std::string made = out.str();
        bytes_.assign(header, 0xE5);
        bytes_.insert(bytes_.end(), made.begin(), made.end());
        image_ = dw::DiskImage::inMemory(bytes_, false);
        return true;
    }

    // The engine's own check, once the sequence is over.
    void finish() {
        const dw::CheckReport report = dw::checkImage(*image_);
        for (const std::string& finding : report.findings)
            std::fprintf(stderr, "  %s\n", finding.c_str());
        require(report.clean(), "the check finds faults that the accounting does not");
    }

    void step() {
        // Imports three times in five (most of them in the long session, as a command with
        // many files runs), deletions twice.
        switch (in_.ConsumeIntegralInRange(0, 4)) {
        case 0:
            import();
            break;
        case 1:
        case 2:
            importInSession();
            break;
        default:
            remove();
            break;
        }
        verify();
    }

    // Damages the image: never its geometry or length, which would make it another image.
    void damage() {
        session_.reset(); // a session lives within one command, and the image changed under it
        const int changes = in_.ConsumeIntegralInRange(1, 6);
        for (int i = 0; i < changes && in_.remaining_bytes() > 0; ++i) {
            switch (in_.ConsumeIntegralInRange(0, 3)) {
            case 0: { // a link, to a sector of the image or just past its geometry
                std::uint8_t* at = sectorAt(anySector());
                at[0] =
                    in_.ConsumeIntegralInRange<std::uint8_t>(0, static_cast<std::uint8_t>(tracks_));
                at[1] = in_.ConsumeIntegralInRange<std::uint8_t>(
                    0, static_cast<std::uint8_t>(perTrack_ + 1));
                break;
            }
            case 1: // the SIR's free chain and date
                bytes_[header_ + dw::SirOffset + in_.ConsumeIntegralInRange(13, 21)] =
                    in_.ConsumeIntegral<std::uint8_t>();
                break;
            case 2: { // a directory entry's first byte, links or count
                const dwtest::Link sector{0, in_.ConsumeIntegralInRange(5, trackZero_)};
                const int field = in_.PickValueInArray({0, 13, 14, 15, 16, 17, 18});
                sectorAt(sector)[16 + 24 * in_.ConsumeIntegralInRange(0, 9) + field] =
                    in_.ConsumeIntegral<std::uint8_t>();
                break;
            }
            default: { // any byte but the geometry's two
                const std::size_t at =
                    in_.ConsumeIntegralInRange<std::size_t>(0, bytes_.size() - 1);
                if (at != header_ + dw::SirOffset + 22 && at != header_ + dw::SirOffset + 23)
                    bytes_[at] = in_.ConsumeIntegral<std::uint8_t>();
                break;
            }
            }
        }
    }

    // One command on the damaged image; false when the engine now reads it with another
    // layout (the damage made another reading make more sense: another image, not this one).
    bool damagedStep() {
        dw::SystemInformationRecord sir;
        if (!image_->readSir(sir).ok() || image_->layout().headerBytes != header_ ||
            image_->layout().trackZeroSectors != trackZero_)
            return false;
        const Bytes before = bytes_;
        const std::vector<dwtest::EntrySpec> live =
            dwtest::liveEntries(bytes_, layout(), perTrack_);
        std::string named;
        bool refused = false;
        switch (in_.ConsumeIntegralInRange(0, 3)) {
        case 0:
        case 1: {
            const dw::ImportOptions options = optionsFrom(in_);
            const std::string given = in_.PickValueInArray(Names);
            named = key(given);
            questions_ = InputQuestions{};
            questions_.replace = in_.ConsumeBool();
            questions_.partial = in_.ConsumeBool();
            const Bytes source = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(1, 900));
            const dw::ImportResult result =
                dw::importFile(*image_, dwfuzz::memoryHost().hold(source.data(), source.size()),
                               options, questions_, given);
            // A replacement agreed to may have deleted the old file before it was refused.
            refused = !result.committed && !(questions_.askedReplace && questions_.replace);
            trace("import " + named, result.status);
            break;
        }
        case 2: {
            named = key(in_.PickValueInArray(Names));
            const std::size_t dot = named.find('.');
            const dw::Status status =
                dw::deleteFile(*image_, named.substr(0, dot), named.substr(dot + 1));
            refused = !status.ok();
            trace("delete " + named, status);
            break;
        }
        default: {
            dw::ImageChange change(*image_);
            dw::RepairPlan plan;
            dw::Status status = dw::planRepair(*image_, plan);
            if (status.ok())
                status = dw::applyRepair(*image_, plan);
            if (!status.ok())
                image_->discardWrites();
            require(change.commit().ok(), "a repair could not be written");
            refused = !status.ok();
            trace("repair", status);
            break;
        }
        }
        require(bytes_.size() == before.size(), "a command changed the image's length");
        if (refused)
            require(bytes_ == before, "a refused command changed the image");
        requireKept(before, live, named);
        return true;
    }

private:
    void trace(const std::string& what, const dw::Status& status) const {
        if (Tracing)
            std::fprintf(stderr, "%s: %s\n", what.c_str(), status.text().c_str());
    }

    dwtest::Layout layout() const { return {trackZero_, static_cast<int>(header_)}; }

    dwtest::Link anySector() {
        const int track = in_.ConsumeIntegralInRange(0, tracks_ - 1);
        return {track, in_.ConsumeIntegralInRange(1, track == 0 ? trackZero_ : perTrack_)};
    }
    std::uint8_t* sectorAt(dwtest::Link l) {
        return &bytes_[dwtest::layoutOffset(layout(), perTrack_, l)];
    }

    // Each sector of a live file but `named` (the first live entry of that name) as it was.
    void requireKept(const Bytes& before, const std::vector<dwtest::EntrySpec>& live,
                     const std::string& named) const {
        bool skipped = false;
        for (const dwtest::EntrySpec& e : live) {
            if (!skipped && e.name + "." + e.ext == named) {
                skipped = true;
                continue;
            }
            std::vector<dwtest::Link> owned =
                dwtest::chainLinks(before, layout(), perTrack_, e.start);
            owned.push_back(e.end);
            for (dwtest::Link l : owned) {
                const bool inImage = l.sector >= 1 && l.track < tracks_ &&
                                     l.sector <= (l.track == 0 ? trackZero_ : perTrack_);
                const std::size_t at = dwtest::layoutOffset(layout(), perTrack_, l);
                if (inImage && !std::equal(before.begin() + static_cast<std::ptrdiff_t>(at),
                                           before.begin() + static_cast<std::ptrdiff_t>(at + 256),
                                           bytes_.begin() + static_cast<std::ptrdiff_t>(at)))
                    require(false, "a sector another live file owns was changed");
            }
        }
    }

    void import() {
        const dw::ImportOptions options = optionsFrom(in_);
        dw::ImportSession session(*image_, options, questions_);
        importWith(session, options);
    }

    // One session for many imports, as a command with several files has: the deletions and
    // other imports between them must not escape it.
    void importInSession() {
        if (!session_) {
            sessionOptions_ = optionsFrom(in_);
            session_ = std::make_unique<dw::ImportSession>(*image_, sessionOptions_, questions_);
        }
        importWith(*session_, sessionOptions_);
    }

    void importWith(dw::ImportSession& session, const dw::ImportOptions& options) {
        const std::string given = in_.PickValueInArray(Names);
        const std::string name = key(given);
        questions_ = InputQuestions{};
        questions_.replace = in_.ConsumeBool();
        questions_.partial = in_.ConsumeBool();
        questions_.binary = in_.ConsumeBool();
        // A few input bytes, repeated, make a file that may fill the disk, so that full disks,
        // partial files and a free chain run dry come often.
        const std::size_t capacity =
            static_cast<std::size_t>((tracks_ - 1) * perTrack_) * DataBytes + DataBytes;
        const std::size_t length = in_.ConsumeIntegralInRange<std::size_t>(
            0, in_.ConsumeIntegral<std::uint8_t>() % 4 == 0 ? capacity : 600);
        const Bytes pattern = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(1, 64));
        Bytes source(length, 0);
        for (std::size_t i = 0; i < length && !pattern.empty(); ++i)
            source[i] = pattern[i % pattern.size()];
        if (in_.ConsumeBool()) // text-like runs: spaces and line ends
            for (std::uint8_t& b : source)
                b = " \r\nA"[b % 4];

        const Bytes before = bytes_;
        const bool existed = model_.count(name) != 0;
        const std::uint8_t* sir = &bytes_[header_ + dw::SirOffset];
        const int available = (sir[17] << 8 | sir[18]) + (existed ? sectorsOf(name) : 0);
        const bool freeSlot = hasFreeSlot();
        if (Tracing)
            std::fprintf(stderr,
                         "import %s mode %d strip %d compress %d replace %d partial %d binary %d "
                         "source %s\n",
                         given.c_str(), static_cast<int>(options.mode), options.stripLineFeeds,
                         options.applySpaceCompression, questions_.replace, questions_.partial,
                         questions_.binary, hex(source).c_str());
        const dw::ImportResult result =
            session.importFile(dwfuzz::memoryHost().hold(source.data(), source.size()), given);
        if (Tracing)
            std::fprintf(stderr, "  committed %d text %d sectors %d: %s\n", result.committed,
                         result.text, result.sectorsUsed, result.status.text().c_str());
        require(bytes_.size() == before.size(), "an import changed the image's length");
        require(!result.committed || fitsFlex(given), "a name outside 8.3 was imported");
        require(!result.committed || !source.empty(), "an empty file was imported");
        require(!result.committed || !existed || questions_.replace,
                "a file was replaced without being asked");
        if (!result.committed && fitsFlex(given) && !source.empty())
            requireGoodReason(result.status.code(), existed, available, freeSlot);
        // The full-disk question comes exactly when the file needs more than the free sectors
        // (a text file may take one empty sector more).
        Bytes stored;
        if (result.committed || questions_.askedPartial)
            stored = storedBytes(source, options, result.text);
        const std::size_t needed = (stored.size() + DataBytes - 1) / DataBytes;
        if (questions_.askedPartial)
            require(static_cast<std::size_t>(available) <= needed, "a partial file that fits");
        if (result.committed && !questions_.askedPartial)
            require(result.sectorsUsed == needed || result.sectorsUsed == needed + 1,
                    "a file takes the wrong number of sectors");
        if (result.committed && questions_.askedPartial)
            require(result.sectorsUsed == available, "a partial file leaves sectors free");
        if (!result.committed) {
            if (existed && questions_.askedReplace && questions_.replace) {
                // Agreed to replace: the old file may be gone, the rest is as it was.
                const auto old = model_.find(name);
                if (sectorsOf(name) < 0)
                    model_.erase(old);
            } else {
                require(bytes_ == before, "a refused import changed the image");
            }
            return;
        }
        require(result.flexName == name, "the import used another name");
        const std::size_t room = std::size_t{result.sectorsUsed} * DataBytes;
        if (questions_.askedPartial && stored.size() > room)
            stored.resize(room); // the part that fits
        model_[name] = std::move(stored);
    }

    void remove() {
        const std::string name = key(in_.PickValueInArray(Names));
        const std::size_t dot = name.find('.');
        const Bytes before = bytes_;
        const dw::Status status =
            dw::deleteFile(*image_, name.substr(0, dot), name.substr(dot + 1));
        const bool existed = model_.erase(name) != 0;
        if (Tracing)
            std::fprintf(stderr, "delete %s: %s\n", name.c_str(), status.text().c_str());
        require(status.ok() == existed, "a deletion disagrees with what the image holds");
        if (!status.ok())
            require(bytes_ == before, "a refused deletion changed the image");
    }

    // A sound image refuses a good name and some bytes only for these reasons, in this order.
    void requireGoodReason(dw::ErrorCode code, bool existed, int available, bool freeSlot) const {
        using dw::ErrorCode;
        if (existed && !questions_.replace)
            require(code == ErrorCode::Cancelled, "a declined replacement is no Cancel");
        else if (!existed && !freeSlot)
            require(code == ErrorCode::DirectoryFull, "a full directory is not refused as one");
        else if (available == 0)
            require(code == ErrorCode::InvalidLink, "a full disk is not refused as one");
        else if (questions_.askedPartial && !questions_.partial)
            require(code == ErrorCode::Cancelled, "a declined partial file is no Cancel");
        else
            require(false, "an import that fits was refused");
    }

    // The sectors of the listed file `name`, -1 when none is listed.
    int sectorsOf(const std::string& name) {
        dw::Listing listing;
        dw::readListing(*image_, listing);
        for (const dw::DirectoryEntry& e : listing.entries)
            if (e.name() + "." + e.ext() == name)
                return e.sectorCount;
        return -1;
    }

    // A slot never used yet (deleted ones are not used again).
    bool hasFreeSlot() const {
        for (Link at{0, 5}; at != Link{0, 0} && exists(at); at = linkAt(sectorBytes(at)))
            for (int slot = 0; slot < 10; ++slot)
                if (sectorBytes(at)[16 + 24 * slot] == 0)
                    return true;
        return false;
    }

    using Link = std::pair<int, int>; // track, sector

    const std::uint8_t* sectorBytes(Link l) const {
        return &bytes_[dwtest::layoutOffset(layout(), perTrack_, {l.first, l.second})];
    }
    bool exists(Link l) const {
        return l.first >= 0 && l.first < tracks_ && l.second >= 1 &&
               l.second <= (l.first == 0 ? trackZero_ : perTrack_);
    }
    static Link linkAt(const std::uint8_t* b) { return {b[0], b[1]}; }

    // Walks `count` sectors from `start`, each one that nobody owns yet, and marks them;
    // returns the last one, and `after` receives the link it holds.
    Link claim(Link start, int count, int who, Link& after, bool numbered) {
        Link at = start, last{0, 0};
        for (int n = 0; n < count; ++n) {
            require(exists(at), "a chain leads outside the image");
            int& owner = owner_[static_cast<std::size_t>(at.first * 256 + at.second)];
            require(owner == 0, "a sector belongs to two chains");
            owner = who;
            const std::uint8_t* b = sectorBytes(at);
            require(!numbered || (b[2] << 8 | b[3]) == n + 1, "a file sector has the wrong number");
            last = at;
            at = linkAt(b);
        }
        after = at;
        return last;
    }

    void account(const dw::Listing& listing) {
        const std::uint8_t* sir = &bytes_[header_ + dw::SirOffset];
        require(sir[22] == tracks_ - 1 && sir[23] == perTrack_, "the SIR's geometry changed");
        owner_.assign(static_cast<std::size_t>(tracks_) * 256, 0);
        Link after;
        // The directory: from 0/5 along its links, within track 0.
        int dirSectors = 0;
        for (Link at{0, 5}; at != Link{0, 0}; at = linkAt(sectorBytes(at))) {
            require(at.first == 0 && exists(at) && ++dirSectors <= trackZero_,
                    "the directory chain is damaged");
            claim(at, 1, 1, after, false);
        }
        int who = 2;
        for (const dw::DirectoryEntry& e : listing.entries) {
            const Link end =
                claim({e.startLink.track, e.startLink.sector}, e.sectorCount, ++who, after, true);
            require(end == Link{e.endLink.track, e.endLink.sector}, "a file ends elsewhere");
            require(after == Link{0, 0}, "a file's last sector links on");
        }
        const int count = sir[17] << 8 | sir[18];
        const Link last = claim({sir[13], sir[14]}, count, 2, after, false);
        if (count > 0) {
            require(last == Link{sir[15], sir[16]}, "the free chain ends elsewhere");
            require(after == Link{0, 0}, "the free chain links on past its end");
        } else {
            require((sir[13] | sir[14] | sir[15] | sir[16]) == 0,
                    "an empty free chain does not read 0/0 at both ends");
        }
        for (int t = 1; t < tracks_; ++t)
            for (int sector = 1; sector <= perTrack_; ++sector)
                require(owner_[static_cast<std::size_t>(t * 256 + sector)] != 0,
                        "a sector is in no chain");
    }

    void verify() {
        dw::Listing listing;
        require(dw::readListing(*image_, listing).ok(), "the directory cannot be read");
        account(listing);
        std::map<std::string, int> seen;
        for (const dw::DirectoryEntry& e : listing.entries) {
            const std::string name = e.name() + "." + e.ext();
            require(++seen[name] == 1, "a name is listed twice");
            const auto expected = model_.find(name);
            require(expected != model_.end(), "the directory lists a file that is not there");
            dw::ExtractOptions options;
            options.forceMode = dw::TransferMode::Binary;
            std::ostringstream out;
            const dw::ExtractResult copy = dw::ExtractFile(*image_, e.startLink, e.sectorCount,
                                                           e.randomFlag != 0, options, out);
            require(copy.status.ok() && !copy.chainEndedEarly, "a file cannot be read whole");
            const std::string got = out.str();
            const Bytes& want = expected->second;
            if (Tracing)
                std::fprintf(stderr, "  %s holds %s, expected %s\n", name.c_str(),
                             hex(Bytes(got.begin(), got.end())).c_str(), hex(want).c_str());
            require(got.size() >= want.size() && got.size() % DataBytes == 0,
                    "a file reads back with the wrong length");
            require(got.size() <= (want.size() / DataBytes + 2) * DataBytes,
                    "a file reads back longer than it was");
            require(want.empty() || std::memcmp(want.data(), got.data(), want.size()) == 0,
                    "a file reads back with other bytes");
            for (std::size_t i = want.size(); i < got.size(); ++i)
                require(got[i] == 0, "a file's last sector is not padded with zeros");
        }
        require(seen.size() == model_.size(), "a file is missing from the directory");
    }

    FuzzedDataProvider& in_;
    Bytes bytes_;
    int tracks_ = 0, perTrack_ = 0, trackZero_ = 0;
    std::size_t header_ = 0;
    std::vector<int> owner_; // by track * 256 + sector: 1 directory, 2 free, 3 and up a file
    std::unique_ptr<dw::DiskImage> image_;
    std::map<std::string, Bytes> model_; // "NAME.EXT" -> the bytes it holds
    InputQuestions questions_;
    dw::ImportOptions sessionOptions_;
    std::unique_ptr<dw::ImportSession> session_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool damaged = in.ConsumeBool();
    Run run(in);
    if (!run.makeImage())
        return 0;
    const int soundSteps = damaged ? in.ConsumeIntegralInRange(0, 8) : 24;
    for (int steps = 0; steps < soundSteps && in.remaining_bytes() > 0; ++steps)
        run.step();
    if (!damaged) {
        run.finish();
        return 0;
    }
    run.damage();
    for (int steps = 0; steps < 16 && in.remaining_bytes() > 0 && run.damagedStep(); ++steps) {
    }
    return 0;
}
