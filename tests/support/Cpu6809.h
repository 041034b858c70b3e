#pragma once

// A model of the Motorola 6809 with the instructions the boot loader uses, written from the
// processor's programming manual: A, B (together D), X, Y, U, S, PC and the condition codes
// N, Z, V, C. Indexed addressing: no offset, post-increment by one and by two. SWI and any
// opcode outside the subset stop the model.

#include "tests/support/Bus.h"

#include <cstdint>

namespace dwtest {

class Cpu6809 {
public:
    explicit Cpu6809(Bus& bus) : bus_(bus) {}

    CpuStop step();

    std::uint8_t a = 0, b = 0, cc = 0x50;
    std::uint16_t x = 0, y = 0, u = 0, s = 0, pc = 0;

    std::uint16_t d() const { return static_cast<std::uint16_t>(a << 8 | b); }
    void setD(std::uint16_t value) {
        a = static_cast<std::uint8_t>(value >> 8);
        b = static_cast<std::uint8_t>(value);
    }

    static constexpr std::uint8_t C = 0x01, V = 0x02, Z = 0x04, N = 0x08;

private:
    std::uint8_t fetch();
    std::uint16_t fetch16();
    // Effective address of an indexed operand; false for a postbyte outside the subset.
    bool indexed(std::uint16_t& address);
    std::uint16_t* indexRegister(std::uint8_t postbyte);
    std::uint8_t* register8(int code);
    std::uint16_t* register16(int code);
    void setNz8(std::uint8_t value);
    void setNz16(std::uint16_t value);
    void compare8(std::uint8_t reg, std::uint8_t operand);
    void compare16(std::uint16_t reg, std::uint16_t operand);
    void branch(bool taken);
    void push(std::uint8_t value) { bus_.write(--s, value); }
    std::uint8_t pull() { return bus_.read(s++); }
    void push16(std::uint16_t value);
    std::uint16_t pull16();
    CpuStop page2();

    Bus& bus_;
};

} // namespace dwtest
