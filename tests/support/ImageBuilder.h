#pragma once

// Writes FLEX images byte by byte, without the engine's own readers or writers, so that tests
// never check the engine only against itself.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace dwtest {

struct Link {
    int track = 0;
    int sector = 0;
    friend bool operator==(Link, Link) = default;
};

// Where the sectors lie: besides the plain layout, a track 0 of fewer sectors than the others
// and a header before track 0, as images in real collections have them.
struct Layout {
    int trackZeroSectors = 0; // 0: as many as the other tracks
    int headerBytes = 0;
};

// Byte offset of a sector, counted here without the engine: the header, then track 0's
// sectors, then every further track of `sectorsPerTrack`.
std::size_t layoutOffset(const Layout& layout, int sectorsPerTrack, Link l);

// A file's data as a byte-level reader sees it: the sectors of the chain from `start`, each found
// by layoutOffset, up to a link to sector 0, a link outside the image or `limit` sectors.
std::vector<std::uint8_t> readChain(const std::vector<std::uint8_t>& image, const Layout& layout,
                                    int sectorsPerTrack, Link start, std::size_t limit = 70000);

// The sectors of the chain from `start` as a byte-level reader finds them: each link followed
// until one to sector 0, one that names no sector of the image (its track's sectors, or the
// file's length, end before it), one already passed, or `limit` sectors.
std::vector<Link> chainLinks(const std::vector<std::uint8_t>& image, const Layout& layout,
                             int sectorsPerTrack, Link start, std::size_t limit = 70000);

struct SirSpec {
    std::string label = "TEST";
    int volumeNumber = 1;
    Link firstFree;
    Link lastFree;
    int freeCount = 0;
    int month = 3, day = 17, year = 105;
    int maxTrack = 0;  // 0: tracks - 1
    int maxSector = 0; // 0: sectors per track
};

struct EntrySpec {
    std::string name;
    std::string ext;
    Link start;
    Link end;
    int count = 0;
    int random = 0;
    int month = 1, day = 2, year = 3;
};

// The live entries, in directory order, as a byte-level reader finds them: the directory
// chain from track 0 sector 5 (as chainLinks follows it), its slots up to the first whose name
// byte is 0, without deleted ones (bit 7 of that byte set).
std::vector<EntrySpec> liveEntries(const std::vector<std::uint8_t>& image, const Layout& layout,
                                   int sectorsPerTrack);

class ImageBuilder {
public:
    // A zero-filled image of tracks x sectorsPerTrack sectors, laid out as `layout` says.
    ImageBuilder(int tracks, int sectorsPerTrack, const Layout& layout = {});

    // A freshly formatted layout: directory chain through track 0 sectors 5..last, free chain
    // through every sector of tracks 1.. in address order, SIR describing it.
    static ImageBuilder formatted(int tracks, int sectorsPerTrack,
                                  const std::string& label = "TEST", const Layout& layout = {});

    int tracks() const { return tracks_; }
    int sectorsPerTrack() const { return spt_; }
    int trackZeroSectors() const { return t0_; }
    const Layout& layout() const { return layout_; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::size_t offset(Link l) const;
    std::uint8_t* sector(Link l);

    ImageBuilder& sir(const SirSpec& fields);
    ImageBuilder& setLink(Link at, Link to);
    ImageBuilder& setRecord(Link at, int record);
    ImageBuilder& setData(Link at, const std::vector<std::uint8_t>& data, int dataOffset = 0);
    // Writes a 24-byte entry into slot 0..9 of a directory sector.
    ImageBuilder& entry(Link dirSector, int slot, const EntrySpec& fields);
    // Raw bytes of a slot (for deleted markers and odd names).
    ImageBuilder& rawEntry(Link dirSector, int slot, const std::vector<std::uint8_t>& bytes24);
    // Links the sectors in order, the last one to 0/0, and numbers them from 1.
    ImageBuilder& chain(const std::vector<Link>& sectors);

    // On a formatted() image: takes sectors from the head of the builder's free list, stores
    // the data 252 bytes per sector, writes the entry into the next unused slot and updates
    // the SIR. An empty file takes no sector and gets start and end 0/0.
    ImageBuilder& addFile(const std::string& name, const std::string& ext,
                          const std::vector<std::uint8_t>& data, bool random = false);

    std::string save(const std::string& path) const;

private:
    int tracks_;
    int spt_;
    Layout layout_;
    int t0_; // sectors of track 0
    std::vector<std::uint8_t> bytes_;
    std::vector<Link> free_; // the builder's model of the free chain
    int nextSlot_ = 0;
    SirSpec sir_;
};

// A unique path in the test's temporary folder.
std::string tempPath(const std::string& name);
// A new, empty folder at a unique path in the test's temporary folder.
std::filesystem::path tempFolder(const std::string& name);
std::vector<std::uint8_t> readFileBytes(const std::string& path);
// The file's bytes as a string, to compare with texts.
std::string readFileText(const std::filesystem::path& path);
void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writeFileText(const std::filesystem::path& path, const std::string& text);

} // namespace dwtest
