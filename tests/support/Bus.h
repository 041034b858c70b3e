#pragma once

// A 64 KB address space for the processor models, with a floppy controller and its drive
// latch mapped into it.

#include "tests/support/Wd179x.h"

#include <array>
#include <cstdint>

namespace dwtest {

class Bus {
public:
    // latchAddress: the drive select latch; the controller's four registers follow at
    // latchAddress + 4.
    Bus(Wd179x& controller, std::uint16_t latchAddress)
        : controller_(controller), latch_(latchAddress) {}

    std::uint8_t read(std::uint16_t address) {
        if (isController(address))
            return controller_.read(address - latch_ - 4);
        return memory_[address];
    }
    void write(std::uint16_t address, std::uint8_t value) {
        if (address == latch_)
            latchValue = value;
        else if (isController(address))
            controller_.write(address - latch_ - 4, value);
        else
            memory_[address] = value;
    }
    std::uint16_t read16(std::uint16_t address) {
        return static_cast<std::uint16_t>(read(address) << 8 |
                                          read(static_cast<std::uint16_t>(address + 1)));
    }
    void write16(std::uint16_t address, std::uint16_t value) {
        write(address, static_cast<std::uint8_t>(value >> 8));
        write(static_cast<std::uint16_t>(address + 1), static_cast<std::uint8_t>(value));
    }

    std::array<std::uint8_t, 65536>& memory() { return memory_; }
    int latchValue = -1; // last value written to the latch; -1 before any

private:
    bool isController(std::uint16_t address) const {
        return address >= latch_ + 4 && address < latch_ + 8;
    }

    Wd179x& controller_;
    std::uint16_t latch_;
    std::array<std::uint8_t, 65536> memory_{};
};

// Why a processor model stopped.
enum class CpuStop { Running, Swi, UnknownOpcode };

} // namespace dwtest
