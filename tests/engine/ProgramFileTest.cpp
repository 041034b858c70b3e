// Program files: S-records, Intel HEX and FLEX binaries through one memory image.

#include "engine/HexRecords.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

using Memory = std::map<std::uint16_t, std::uint8_t>;

// The loaded bytes as a map, so that comparisons show the first difference.
Memory contents(const dw::MemoryImage& memory) {
    Memory bytes;
    for (std::uint32_t a = 0; a < dw::MemorySize; ++a)
        if (memory.loaded(static_cast<std::uint16_t>(a)))
            bytes[static_cast<std::uint16_t>(a)] = memory.at(static_cast<std::uint16_t>(a));
    return bytes;
}

const auto S = dw::RecordFormat::SRecords;
const auto Hex = dw::RecordFormat::IntelHex;

} // namespace

// For random memory maps (runs anywhere from $0000 to $FFFF, overlapping or not, with or without
// a start address), S-records and Intel HEX read back into the same bytes and start, a FLEX
// binary made from them loads the same in as few records of at most 255 bytes as fit, and
// writing again gives the same text.
TEST(ProgramFiles, EveryFormatKeepsEachByteAtItsAddressAndTheStart) {
    std::mt19937 engine(2024);
    auto rng = [&engine] { return static_cast<std::uint32_t>(engine()); };
    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        dw::MemoryImage memory;
        Memory expected;
        for (int run = 0, runs = 1 + static_cast<int>(rng() % 10); run < runs; ++run) {
            const std::uint32_t size = 1 + rng() % (rng() % 4 ? 40 : 700);
            const std::uint32_t choice = rng() % 4;
            const std::uint32_t first = choice == 0   ? 0
                                        : choice == 1 ? dw::MemorySize - size
                                                      : rng() % (dw::MemorySize - size);
            for (std::uint32_t i = 0; i < size; ++i) {
                const auto value = static_cast<std::uint8_t>(rng());
                memory.load(static_cast<std::uint16_t>(first + i), value);
                expected[static_cast<std::uint16_t>(first + i)] = value;
            }
        }
        if (rng() % 3)
            memory.start = static_cast<std::uint16_t>(1 + rng() % 0xFFFF);

        // A FLEX binary of the fewest records: 4 bytes a record of up to 255, 3 for the start.
        std::size_t flexSize = memory.start ? 3 : 0, length = 0;
        for (auto at = expected.begin(); at != expected.end(); ++at) {
            ++length;
            const auto next = std::next(at);
            if (next == expected.end() || next->first != at->first + 1) {
                flexSize += length + 4 * ((length + 254) / 255);
                length = 0;
            }
        }

        for (dw::RecordFormat format : {S, Hex}) {
            const std::string text =
                format == S ? dw::writeSRecords(memory, "PROG.CMD") : dw::writeIntelHex(memory);
            dw::MemoryImage fromText;
            std::vector<std::string> warnings;
            ASSERT_TRUE(dw::readRecords(format, text, fromText, warnings).ok());
            const std::vector<std::uint8_t> binary = dw::flexBinary(fromText);
            EXPECT_EQ(binary.size(), flexSize);
            dw::MemoryImage loaded;
            ASSERT_TRUE(dw::readFlexBinary(binary, loaded).ok());
            EXPECT_EQ(contents(loaded), expected);
            EXPECT_EQ(loaded.start, memory.start);
            EXPECT_EQ(format == S ? dw::writeSRecords(loaded, "PROG.CMD")
                                  : dw::writeIntelHex(loaded),
                      text);
        }
    }
}

// What the readers take besides what the writers make: headers, counts, line ends, blanks and
// either case; segment addresses; a file without its end and bytes loaded twice (warned about).
TEST(ProgramFiles, ReadersTakeEveryFormOfTheirRecords) {
    struct Case {
        dw::RecordFormat format;
        std::string text;
        Memory bytes;
        std::optional<std::uint16_t> start;
        std::size_t warnings;
    };
    const Case cases[] = {
        {S,
         "S00600004844521B\r\n\r\ns1051000aabb85\r\n  S307000020000102D5\t\r\nS5030002FA\r\n"
         "S804002000DB\r\n",
         {{0x1000, 0xAA}, {0x1001, 0xBB}, {0x2000, 1}, {0x2001, 2}},
         0x2000,
         0},
        {Hex,
         ":020000020100FB\n:010000007788\n:02100000aabb89\n:0400000301000020D8\n:00000001FF\n",
         {{0x1000, 0x77}, {0x2000, 0xAA}, {0x2001, 0xBB}},
         0x1020,
         0},
        {S, "S1051000AABB85\nS1041001CC1E\n", {{0x1000, 0xAA}, {0x1001, 0xCC}}, std::nullopt, 2},
    };
    for (const Case& c : cases) {
        dw::MemoryImage memory;
        std::vector<std::string> warnings;
        ASSERT_TRUE(dw::readRecords(c.format, c.text, memory, warnings).ok()) << c.text;
        EXPECT_EQ(contents(memory), c.bytes);
        EXPECT_EQ(memory.start, c.start);
        EXPECT_EQ(warnings.size(), c.warnings);
    }
}

TEST(ProgramFiles, MalformedRecordsAreRefusedNamingTheLine) {
    enum class Kind { S, Hex, Flex };
    struct Case {
        Kind kind;
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {Kind::S, "S1051000AABB86", "line 1: the checksum is 86, the bytes give 85"},
        {Kind::S, "S00600004844521B\n\nS105100", "line 3: an odd number of hex digits"},
        {Kind::S, "S1061000AABB85", "line 1: the byte count says 7 bytes, the record holds 6"},
        {Kind::S, ":02100000AABB89", "line 1: not an S-record (it does not begin with S)"},
        {Kind::S, "S1020000", "line 1: too short for its address and checksum"},
        {Kind::S, "S20600FFFFAABB96", "line 1: its data at $FFFF reach beyond 64 KiB"},
        {Kind::S, "S1051000AABG85", "line 1: 'G' is not a hex digit"},
        {Kind::S, "S705001234565E", "line 1: the start address $123456 lies beyond 64 KiB"},
        {Kind::S, "S1051000AABB85\nS5030005F7",
         "line 2: it counts 5 data records, the file holds 1 before it"},
        {Kind::S, "S903C1003B\nS1051000AABB85", "line 2: a record after the end record"},
        {Kind::Hex, ":02100000AABB88", "line 1: the checksum is 88, the bytes give 89"},
        {Kind::Hex, ":00000006FA", "line 1: record type 06 is not an Intel HEX type"},
        {Kind::Hex, ":03000002100000EB",
         "line 1: a record of type 02 holds 2 data bytes, this one 3"},
        {Kind::Hex, ":020000040001F9\n:02100000AABB89",
         "line 2: its data at $011000 reach beyond 64 KiB"},
        {Kind::Hex, ":0400000310000010D9", "line 1: the start address $010010 lies beyond 64 KiB"},
        {Kind::Hex, ":00000001FF\n:02100000AABB89", "line 2: a record after the end record"},
        {Kind::Flex, std::string("\x02\x10\x00\x05\xAA\xBB", 6),
         "the file ends inside the record at byte 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        dw::MemoryImage memory;
        std::vector<std::string> warnings;
        const dw::Status status =
            c.kind == Kind::Flex
                ? dw::readFlexBinary(
                      {reinterpret_cast<const std::uint8_t*>(c.text.data()), c.text.size()}, memory)
                : dw::readRecords(c.kind == Kind::S ? S : Hex, c.text, memory, warnings);
        EXPECT_EQ(status.code(), dw::ErrorCode::BadRecord);
        EXPECT_EQ(status.text(), c.message);
    }
}
