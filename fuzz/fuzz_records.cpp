// Arbitrary bytes as the program files users hand to import --from and as FLEX binaries read
// for export --to: the readers never crash, hang or read out of bounds, and whatever one
// accepts is written and read back to the same memory and start, through each form.

#include "engine/HexRecords.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using dwfuzz::require;

bool same(const dw::MemoryImage& a, const dw::MemoryImage& b) {
    if (a.size() != b.size() || a.start != b.start)
        return false;
    for (const dw::MemoryImage::Run& run : a.runs())
        for (std::uint32_t i = 0; i < run.size; ++i) {
            const auto at = static_cast<std::uint16_t>(run.first + i);
            if (!b.loaded(at) || a.at(at) != b.at(at))
                return false;
        }
    return true;
}

// Each form the memory can take reads back as the memory. A start of 0 means none in the
// record formats, so it is left out there.
void roundTrips(const dw::MemoryImage& memory) {
    dw::MemoryImage loaded;
    require(dw::readFlexBinary(dw::flexBinary(memory), loaded).ok(), "a FLEX binary is refused");
    require(same(memory, loaded), "a FLEX binary loads other bytes");
    if (memory.start == 0)
        return;
    for (dw::RecordFormat format : {dw::RecordFormat::SRecords, dw::RecordFormat::IntelHex}) {
        const std::string text = format == dw::RecordFormat::SRecords
                                     ? dw::writeSRecords(memory, "FUZZ.CMD")
                                     : dw::writeIntelHex(memory);
        dw::MemoryImage read;
        std::vector<std::string> warnings;
        require(dw::readRecords(format, text, read, warnings).ok(), "written records are refused");
        require(warnings.empty(), "written records bring a warning");
        require(same(memory, read), "written records read back as other bytes");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (dw::RecordFormat format : {dw::RecordFormat::SRecords, dw::RecordFormat::IntelHex}) {
        dw::MemoryImage memory;
        std::vector<std::string> warnings;
        if (dw::readRecords(format, text, memory, warnings).ok())
            roundTrips(memory);
    }
    dw::MemoryImage memory;
    if (dw::readFlexBinary({data, size}, memory).ok())
        roundTrips(memory);
    return 0;
}
