#pragma once

// The on-disk layout of a FLEX diskette image: sector addressing, the System Information
// Record, directory entries and data sectors. Numbers on the diskette are big-endian.

#include <array>
#include <cstdint>
#include <string>

namespace dw {

constexpr int SectorSize = 256;
constexpr int SectorDataSize = 252;
constexpr int SectorHeaderSize = 4; // link and record number in front of the data
constexpr std::uint32_t SirOffset = 528;
constexpr int SirSize = 24;
constexpr int DirectoryHeaderSize = 16;
constexpr int DirectoryEntrySize = 24;
constexpr int EntriesPerSector = 10;

using Sector = std::array<std::uint8_t, SectorSize>;

inline std::uint16_t getBigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline void putBigEndian16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value & 0xFF);
}

struct SectorLink {
    std::uint8_t track = 0;
    std::uint8_t sector = 0;

    // 0/0 ends a chain.
    bool isNull() const { return track == 0 && sector == 0; }
    // A sector byte of 0 never names a sector.
    bool namesNoSector() const { return sector == 0; }

    friend bool operator==(SectorLink, SectorLink) = default;
    // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 sees the 0 of the comparison it makes
    friend auto operator<=>(SectorLink, SectorLink) = default;
};

// "%03d-%03d", as the listing shows a link.
std::string linkText(SectorLink link);

inline SectorLink getLink(const std::uint8_t* p) {
    return {p[0], p[1]};
}
inline void putLink(std::uint8_t* p, SectorLink link) {
    p[0] = link.track;
    p[1] = link.sector;
}

struct SystemInformationRecord {
    std::array<std::uint8_t, 11> volumeLabel{};
    std::uint16_t volumeNumber = 0;
    SectorLink firstFree;
    SectorLink lastFree;
    std::uint16_t freeSectorCount = 0;
    std::uint8_t creationMonth = 0;
    std::uint8_t creationDay = 0;
    std::uint8_t creationYear = 0;
    std::uint8_t maxTrack = 0;
    std::uint8_t maxSector = 0;

    static SystemInformationRecord parse(const std::uint8_t* bytes);
    void serialize(std::uint8_t* bytes) const;
    // The label up to its first NUL.
    std::string label() const;
    friend bool operator==(const SystemInformationRecord&,
                           const SystemInformationRecord&) = default;
};

struct DirectoryEntry {
    std::array<std::uint8_t, 8> fileName{};
    std::array<std::uint8_t, 3> extension{};
    std::array<std::uint8_t, 2> reserved1{};
    SectorLink startLink;
    SectorLink endLink;
    std::uint16_t sectorCount = 0;
    std::uint8_t randomFlag = 0;
    std::uint8_t reserved2 = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t year = 0;

    static DirectoryEntry parse(const std::uint8_t* bytes);
    void serialize(std::uint8_t* bytes) const;

    bool isEndOfDirectory() const { return fileName[0] == 0; }
    bool isDeleted() const { return (fileName[0] & 0x80) != 0; }
    bool isLive() const { return !isEndOfDirectory() && !isDeleted(); }
    // Name and extension as terminated strings (a full field is still terminated).
    std::string name() const;
    std::string ext() const;
    // Both fields NUL-padded (a longer text is cut at the field's size).
    void setName(const std::string& name, const std::string& ext);
};

// A year byte below 70 is 2000 + y, others 1900 + y.
int fullYear(std::uint8_t yearByte);
// The byte the engine writes for a calendar year: two digits (year modulo 100), as FLEX itself
// and other tools write it; the reading rule above turns it back into the full year. Years 2070
// to 2155 are written as year - 1900, which reads back too (an entry copied from another image
// keeps every year it can show).
std::uint8_t yearByte(int calendarYear);
// "%04d-%02d-%02d" with the year rule applied.
std::string dateText(std::uint8_t yearByte, std::uint8_t month, std::uint8_t day);

// A date as the engine writes it into the image.
struct LocalDate {
    int year = 1970; // calendar year
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
};
LocalDate currentLocalDate();

} // namespace dw
