#pragma once

// The N, Z, V and C flags, which the 6800 and the 6809 keep in the same bits and set alike.

#include <cstdint>

namespace dwtest::flags {

constexpr std::uint8_t C = 0x01, V = 0x02, Z = 0x04, N = 0x08;

inline void setNz8(std::uint8_t& cc, std::uint8_t value) {
    cc = static_cast<std::uint8_t>(cc & ~(N | Z | V));
    if (value & 0x80)
        cc |= N;
    if (value == 0)
        cc |= Z;
}

inline void setNz16(std::uint8_t& cc, std::uint16_t value) {
    cc = static_cast<std::uint8_t>(cc & ~(N | Z | V));
    if (value & 0x8000)
        cc |= N;
    if (value == 0)
        cc |= Z;
}

// CMP: the flags of reg - operand.
inline void compare8(std::uint8_t& cc, std::uint8_t reg, std::uint8_t operand) {
    const std::uint8_t result = static_cast<std::uint8_t>(reg - operand);
    setNz8(cc, result);
    cc = static_cast<std::uint8_t>(cc & ~C);
    if ((reg ^ operand) & (reg ^ result) & 0x80)
        cc |= V;
    if (operand > reg)
        cc |= C;
}

} // namespace dwtest::flags
