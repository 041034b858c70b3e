// The two boot loaders: their bytes are those of the annotated listings in res/, and each one,
// run on a model of its processor and of the floppy controller, loads the first file of a new
// image record by record and starts it at its transfer address.

#include "engine/BootLink.h"
#include "engine/BootSectors.h"
#include "engine/Create.h"
#include "engine/Directory.h"
#include "engine/HexRecords.h"
#include "tests/support/Answers.h"
#include "tests/support/Cpu6800.h"
#include "tests/support/Cpu6809.h"
#include "tests/support/Wd179x.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace dwtest;

namespace {

// The listing's bytes: every line that starts with a four-digit address carries its bytes in
// the columns up to 30. Addresses must follow each other without gaps.
std::vector<std::uint8_t> listingBytes(const std::string& name, std::uint16_t& origin) {
    std::ifstream in(std::string(DW_SOURCE_DIR) + "/res/" + name);
    EXPECT_TRUE(in) << name;
    std::vector<std::uint8_t> bytes;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 6 || line.substr(4, 2) != "  " ||
            line.find_first_not_of("0123456789ABCDEF") < 4)
            continue;
        const auto address = static_cast<std::uint16_t>(std::stoul(line.substr(0, 4), nullptr, 16));
        if (bytes.empty())
            origin = address;
        EXPECT_EQ(address, origin + bytes.size()) << line;
        std::istringstream field(line.substr(6, 24));
        std::string hex;
        while (field >> hex)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return bytes;
}

// A FLEX binary file: data records, bytes between them that a loader skips, and a transfer
// record before the last data record (the loader starts the program only at the end).
struct FlexBinary {
    std::vector<std::uint8_t> file;
    std::map<std::uint16_t, std::uint8_t> expected; // address -> byte
    std::uint16_t transfer = 0;
};

FlexBinary makeBinary(std::uint16_t base, std::uint16_t transfer) {
    FlexBinary binary;
    binary.transfer = transfer;
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245 + 12345;
        return static_cast<std::uint8_t>(seed >> 16);
    };
    auto record = [&](std::uint16_t address, int count) {
        binary.file.insert(binary.file.end(), {0x02, static_cast<std::uint8_t>(address >> 8),
                                               static_cast<std::uint8_t>(address & 0xFF),
                                               static_cast<std::uint8_t>(count)});
        for (int i = 0; i < count; ++i) {
            const std::uint8_t value = next();
            binary.file.push_back(value);
            binary.expected[static_cast<std::uint16_t>(address + i)] = value;
        }
    };
    std::uint16_t address = base;
    for (int k = 0; k < 50; ++k) {
        const int count = k == 7 ? 255 : k == 8 ? 1 : 200;
        record(address, count);
        address = static_cast<std::uint16_t>(address + count);
        binary.file.insert(binary.file.end(), static_cast<std::size_t>(k % 3), 0x00);
    }
    binary.file.insert(binary.file.end(), {0x16, static_cast<std::uint8_t>(transfer >> 8),
                                           static_cast<std::uint8_t>(transfer & 0xFF)});
    record(0x3000, 17);
    return binary;
}

std::vector<std::uint8_t> blankImage(const dw::FormatParameters& p) {
    std::ostringstream out;
    dw::NullProgress progress;
    EXPECT_EQ(dw::CreateBlankImage(p, out, {2026, 1, 2, 3, 4}, progress).outcome,
              dw::CreateOutcome::Completed);
    const std::string text = out.str();
    return {text.begin(), text.end()};
}

// A new image with the boot sector, and `file` as its first file: its chain takes the head of
// the free chain from 1/1 on, as the first import into a new image does.
std::vector<std::uint8_t> imageWithFile(dw::Processor processor,
                                        const std::vector<std::uint8_t>& file,
                                        int& sectorsPerTrack) {
    dw::FormatParameters p;
    p.processor = processor;
    p.volumeName = "BOOT";
    std::vector<std::uint8_t> image = blankImage(p);
    const int spt = static_cast<int>(dw::sectorsPerTrack(p));
    sectorsPerTrack = spt;

    const std::size_t sectors = (file.size() + 251) / 252;
    auto linkOf = [spt](std::size_t index) {
        return std::pair<int, int>{1 + static_cast<int>(index) / spt,
                                   1 + static_cast<int>(index) % spt};
    };
    for (std::size_t i = 0; i < sectors; ++i) {
        auto [track, sector] = linkOf(i);
        std::uint8_t* s = &image[static_cast<std::size_t>(track * spt + sector - 1) * 256];
        std::fill(s, s + 256, 0);
        if (i + 1 < sectors) {
            auto [nextTrack, nextSector] = linkOf(i + 1);
            s[0] = static_cast<std::uint8_t>(nextTrack);
            s[1] = static_cast<std::uint8_t>(nextSector);
        }
        s[2] = static_cast<std::uint8_t>((i + 1) >> 8);
        s[3] = static_cast<std::uint8_t>(i + 1);
        const std::size_t from = i * 252;
        const std::size_t count = std::min<std::size_t>(252, file.size() - from);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(from), count, s + 4);
    }
    return image;
}

struct BootOutcome {
    bool reachedTransfer = false;
    CpuStop stop = CpuStop::Running;
    int sectorsRead = 0;
    std::vector<std::string> faults;
    int latch = -1;
    std::array<std::uint8_t, 65536> memory{};
};

// Does what the monitor's boot command does (read track 0 sector 1 to the load address, jump
// there), then runs until the program's transfer address is reached or the loader stops.
template <class Cpu>
BootOutcome boot(const std::vector<std::uint8_t>& image, int spt, std::uint16_t latch,
                 std::uint16_t loadAddress, std::uint16_t transfer) {
    Wd179x controller(image, spt);
    Bus bus(controller, latch);
    std::copy_n(image.begin(), 256, bus.memory().begin() + loadAddress);
    Cpu cpu(bus);
    cpu.pc = loadAddress;
    BootOutcome outcome;
    for (long steps = 0; steps < 5'000'000; ++steps) {
        if (cpu.pc == transfer) {
            outcome.reachedTransfer = true;
            break;
        }
        outcome.stop = cpu.step();
        if (outcome.stop != CpuStop::Running)
            break;
    }
    outcome.sectorsRead = controller.sectorsRead();
    outcome.faults = controller.faults();
    outcome.latch = bus.latchValue;
    outcome.memory = bus.memory();
    return outcome;
}

// Every record landed, and nothing else below the loaders was touched.
void expectLoaded(const BootOutcome& outcome, const FlexBinary& binary) {
    for (std::uint32_t address = 0; address < 0xA000; ++address) {
        auto it = binary.expected.find(static_cast<std::uint16_t>(address));
        const std::uint8_t want = it == binary.expected.end() ? 0 : it->second;
        ASSERT_EQ(outcome.memory[address], want) << "at " << address;
    }
}

struct LoaderCase {
    dw::Processor processor;
    const char* listing;
    std::uint16_t latch;
    std::uint16_t loadAddress;
};

BootOutcome bootCase(const LoaderCase& c, const std::vector<std::uint8_t>& image, int spt,
                     std::uint16_t transfer) {
    if (c.processor == dw::Processor::M6800)
        return boot<Cpu6800>(image, spt, c.latch, c.loadAddress, transfer);
    return boot<Cpu6809>(image, spt, c.latch, c.loadAddress, transfer);
}

class BootLoader : public testing::TestWithParam<LoaderCase> {};

} // namespace

TEST_P(BootLoader, BytesAreThoseOfTheListing) {
    const LoaderCase& c = GetParam();
    std::uint16_t origin = 0;
    const std::vector<std::uint8_t> bytes = listingBytes(c.listing, origin);
    const dw::Sector& sector = dw::bootSector(c.processor);
    EXPECT_EQ(origin, c.loadAddress);
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), sector.begin()));
    EXPECT_EQ(sector[dw::BootStartTrackOffset], 1);
    EXPECT_EQ(sector[dw::BootStartSectorOffset], 1);
    if (c.processor == dw::Processor::M6800) {
        EXPECT_TRUE(std::all_of(sector.begin() + 212, sector.end(), [](auto v) { return v == 0; }));
    }
}

TEST_P(BootLoader, LoadsTheFirstFileAndStartsIt) {
    const LoaderCase& c = GetParam();
    const FlexBinary binary = makeBinary(0x0400, 0x0400);
    int spt = 0;
    const std::vector<std::uint8_t> image = imageWithFile(c.processor, binary.file, spt);
    ASSERT_GT(binary.file.size(), static_cast<std::size_t>(spt) * 252) << "must cross a track";

    const BootOutcome outcome = bootCase(c, image, spt, binary.transfer);
    EXPECT_TRUE(outcome.reachedTransfer);
    EXPECT_EQ(outcome.stop, CpuStop::Running);
    EXPECT_TRUE(outcome.faults.empty()) << outcome.faults.front();
    EXPECT_EQ(outcome.latch, 0);
    EXPECT_EQ(outcome.sectorsRead, static_cast<int>((binary.file.size() + 251) / 252));
    expectLoaded(outcome, binary);
}

TEST_P(BootLoader, ReadErrorReturnsToTheMonitor) {
    const LoaderCase& c = GetParam();
    const FlexBinary binary = makeBinary(0x0400, 0x0400);
    int spt = 0;
    std::vector<std::uint8_t> image = imageWithFile(c.processor, binary.file, spt);
    image[static_cast<std::size_t>(spt) * 256] = 200; // 1/1 links to a track the disk lacks
    const BootOutcome outcome = bootCase(c, image, spt, binary.transfer);
    EXPECT_FALSE(outcome.reachedTransfer);
    EXPECT_EQ(outcome.stop, CpuStop::Swi);
    EXPECT_EQ(outcome.sectorsRead, 1);
}

TEST_P(BootLoader, FileWithoutTransferAddressReturnsToTheMonitor) {
    const LoaderCase& c = GetParam();
    const std::vector<std::uint8_t> file = {0x02, 0x05, 0x00, 0x02, 0xAA, 0xBB};
    int spt = 0;
    const std::vector<std::uint8_t> image = imageWithFile(c.processor, file, spt);
    const BootOutcome outcome = bootCase(c, image, spt, 0x0000);
    EXPECT_EQ(outcome.stop, CpuStop::Swi);
    EXPECT_EQ(outcome.memory[0x0500], 0xAA);
    EXPECT_EQ(outcome.memory[0x0501], 0xBB);
}

INSTANTIATE_TEST_SUITE_P(
    Processors, BootLoader,
    testing::Values(LoaderCase{dw::Processor::M6800, "boot6800.asm", 0x8014, 0xA100},
                    LoaderCase{dw::Processor::M6809, "boot6809.asm", 0xE014, 0xC100}),
    [](const auto& param) {
        return param.param.processor == dw::Processor::M6800 ? "M6800" : "M6809";
    });

// The road of a cross-developed program: S-records made into a FLEX binary that lands after
// another file (not at track 1 sector 1), the boot sector linked to it, and the 6809 loader
// loading and starting it. What the loader cannot read is refused and changes nothing.
TEST(BootLink, ProgramFromSRecordsBootsOnThe6809AfterLink) {
    const FlexBinary binary = makeBinary(0x0400, 0x0400);
    dw::MemoryImage memory;
    for (const auto& [address, value] : binary.expected)
        memory.load(address, value);
    memory.start = binary.transfer;
    dw::MemoryImage program;
    std::vector<std::string> warnings;
    ASSERT_TRUE(dw::readRecords(dw::RecordFormat::SRecords, dw::writeSRecords(memory, "FLEX.SYS"),
                                program, warnings)
                    .ok());

    // Each case: a new 6809 image, a text file of 3 sectors, the program, then link.
    struct Case {
        bool doubleSided;
        bool boot;
        const char* linked;  // the file to link
        std::string problem; // the refusal, or the warning
    };
    const Case cases[] = {
        {false, true, "FLEX.SYS", ""},
        {false, true, "FIRST.TXT",
         "FIRST.TXT has no transfer record, so the loader loads it and returns to the monitor"},
        {true, true, "FLEX.SYS",
         "FLEX.SYS cannot be booted: its sector 001-019 lies on the second side, and the boot "
         "loader reads only sectors 1-18 of a track; nothing was changed"},
        {false, false, "FLEX.SYS",
         "the boot sector is all zeros, so no loader would read the link; nothing was changed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        dw::FormatParameters p;
        p.tracks = 35;
        p.doubleSided = c.doubleSided;
        p.includeBootSector = c.boot;
        std::vector<std::uint8_t> bytes = blankImage(p);
        auto image = dw::DiskImage::inMemory(bytes, false);
        Answers answers(Answer::Unexpected);
        dw::ImportOptions options;
        options.mode = dw::ImportMode::Binary;
        dw::ImportSession session(*image, options, answers);
        ASSERT_TRUE(
            session.importBytes(std::vector<std::uint8_t>(600, 'x'), "FIRST.TXT", "-").committed);
        ASSERT_TRUE(session.importBytes(dw::flexBinary(program), "FLEX.SYS", "-").committed);
        dw::Listing listing;
        ASSERT_TRUE(dw::readListing(*image, listing).ok());
        const dw::DirectoryEntry& file =
            listing.entries[std::string(c.linked) == "FLEX.SYS" ? 1 : 0];
        const int spt = static_cast<int>(dw::sectorsPerTrack(p));
        // Until the link, the loader loads the first file, which starts nothing.
        EXPECT_FALSE(boot<Cpu6809>(bytes, spt, 0xE014, 0xC100, binary.transfer).reachedTransfer);
        const std::vector<std::uint8_t> before = bytes;

        const dw::BootLinkResult result = dw::linkBootFile(*image, file);
        if (!result.status.ok()) {
            EXPECT_EQ(result.status.text(), c.problem);
            EXPECT_EQ(bytes, before);
            continue;
        }
        EXPECT_EQ(result.warnings, c.problem.empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{c.problem});
        EXPECT_EQ(bytes[dw::BootStartTrackOffset], file.startLink.track);
        EXPECT_EQ(bytes[dw::BootStartSectorOffset], file.startLink.sector);
        if (!c.problem.empty())
            continue;
        EXPECT_EQ(file.startLink, (dw::SectorLink{1, 4}));
        const BootOutcome outcome = boot<Cpu6809>(bytes, spt, 0xE014, 0xC100, binary.transfer);
        EXPECT_TRUE(outcome.reachedTransfer);
        expectLoaded(outcome, binary);
    }
}
