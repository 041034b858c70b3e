#pragma once

// What a text import stores, written here without the engine, for the tests and the fuzzer to
// compare the engine with.

#include <cstdint>
#include <vector>

namespace dwtest {

// A line feed after a carriage return vanishes; any other becomes a carriage return.
inline std::vector<std::uint8_t> textStored(const std::vector<std::uint8_t>& source) {
    std::vector<std::uint8_t> stored;
    std::uint8_t previous = 0;
    for (std::uint8_t byte : source) {
        if (byte != 0x0A)
            stored.push_back(byte);
        else if (previous != 0x0D)
            stored.push_back(0x0D);
        previous = byte;
    }
    return stored;
}

} // namespace dwtest
