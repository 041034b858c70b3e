// Arbitrary bytes as the program files users hand to import --from, and as FLEX binaries read
// for export --to: the readers never crash, hang or read out of bounds, and what they accept
// makes a FLEX binary that loads the same bytes and start.

#include "engine/HexRecords.h"
#include "fuzz/FuzzSupport.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (dw::RecordFormat format : {dw::RecordFormat::SRecords, dw::RecordFormat::IntelHex}) {
        dw::MemoryImage memory;
        std::vector<std::string> warnings;
        if (!dw::readRecords(format, text, memory, warnings).ok())
            continue;
        dw::MemoryImage loaded;
        dwfuzz::require(dw::readFlexBinary(dw::flexBinary(memory), loaded).ok() &&
                            loaded.size() == memory.size() && loaded.start == memory.start &&
                            loaded.overlapWarning().empty(),
                        "accepted records make a FLEX binary that loads otherwise");
    }
    dw::MemoryImage memory;
    (void)dw::readFlexBinary({data, size}, memory);
    return 0;
}
