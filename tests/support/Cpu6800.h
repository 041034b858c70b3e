#pragma once

// A model of the Motorola 6800 with the instructions the boot loader uses, written from the
// processor's programming manual: accumulators A and B, index register X, stack pointer and
// the condition codes N, Z, V, C. SWI and any opcode outside the subset stop the model.

#include "tests/support/Bus.h"

#include <cstdint>

namespace dwtest {

class Cpu6800 {
public:
    explicit Cpu6800(Bus& bus) : bus_(bus) {}

    // Executes one instruction; returns why it stopped, or Running.
    CpuStop step();

    std::uint8_t a = 0, b = 0, cc = 0xD0;
    std::uint16_t x = 0, sp = 0, pc = 0;
    std::uint8_t lastOpcode = 0;

    static constexpr std::uint8_t C = 0x01, V = 0x02, Z = 0x04, N = 0x08;

private:
    std::uint8_t fetch();
    std::uint16_t fetch16();
    std::uint16_t extended() { return fetch16(); }
    std::uint16_t indexed() { return static_cast<std::uint16_t>(x + fetch()); }
    void setNz8(std::uint8_t value);
    void setNz16(std::uint16_t value);
    void compare8(std::uint8_t reg, std::uint8_t operand);
    void branch(bool taken);
    void push(std::uint8_t value);
    std::uint8_t pull();
    void call(std::uint16_t target);

    Bus& bus_;
};

} // namespace dwtest
