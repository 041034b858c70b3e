#pragma once

// What a program file puts into the 64 KiB of a 6800 or 6809: bytes at their addresses and a
// start address. S-records and Intel HEX (engine/HexRecords.h) and FLEX binary files all read
// into one and are written from one, so each conversion is a read and a write.

#include "engine/Status.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dw {

constexpr std::uint32_t MemorySize = 0x10000;

class MemoryImage {
public:
    // A byte loaded twice keeps the later value; the overlap is counted for a warning.
    void load(std::uint16_t address, std::uint8_t value);
    bool loaded(std::uint16_t address) const { return loaded_[address] != 0; }
    std::uint8_t at(std::uint16_t address) const { return bytes_[address]; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Loaded addresses that follow each other: [first, first + size), in address order.
    struct Run {
        std::uint16_t first = 0;
        std::uint32_t size = 0;
    };
    std::vector<Run> runs() const;

    // "N bytes were loaded more than once (the first at $XXXX); the later ones are kept", or
    // empty when every byte was loaded once.
    std::string overlapWarning() const;

    std::optional<std::uint16_t> start; // the transfer address

private:
    std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(MemorySize, 0);
    std::vector<std::uint8_t> loaded_ = std::vector<std::uint8_t>(MemorySize, 0); // 1: loaded
    std::size_t count_ = 0;
    std::size_t overlaps_ = 0;
    std::uint16_t firstOverlap_ = 0;
};

constexpr std::uint8_t FlexLoadRecord = 0x02;
constexpr std::uint8_t FlexTransferRecord = 0x16;

// A FLEX binary file: each run of loaded bytes as load records `02 addrHi addrLo count data`
// of at most 255 bytes, then with a start address the transfer record `16 addrHi addrLo`.
std::vector<std::uint8_t> flexBinary(const MemoryImage& memory);

// Reads a file as FLEX's loader does: load records, transfer records (the last one counts),
// every other byte between records skipped; addresses wrap at $FFFF as the processor's do. A
// record cut short by the end of the file is refused (BadRecord).
Status readFlexBinary(std::span<const std::uint8_t> file, MemoryImage& memory);

// The memory from the lowest loaded address to the highest, gaps as zeros.
std::vector<std::uint8_t> memoryBytes(const MemoryImage& memory);

// "$1A2B".
std::string addressText(std::uint32_t address);

} // namespace dw
