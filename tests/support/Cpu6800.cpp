#include "tests/support/Cpu6800.h"
#include "tests/support/ConditionCodes.h"

namespace dwtest {

std::uint8_t Cpu6800::fetch() {
    return bus_.read(pc++);
}

std::uint16_t Cpu6800::fetch16() {
    const std::uint16_t high = fetch();
    return static_cast<std::uint16_t>(high << 8 | fetch());
}

void Cpu6800::setNz8(std::uint8_t value) {
    flags::setNz8(cc, value);
}

void Cpu6800::setNz16(std::uint16_t value) {
    flags::setNz16(cc, value);
}

void Cpu6800::compare8(std::uint8_t reg, std::uint8_t operand) {
    flags::compare8(cc, reg, operand);
}

void Cpu6800::branch(bool taken) {
    const auto offset = static_cast<std::int8_t>(fetch());
    if (taken)
        pc = static_cast<std::uint16_t>(pc + offset);
}

// The 6800 stores at SP, then decrements.
void Cpu6800::push(std::uint8_t value) {
    bus_.write(sp--, value);
}

std::uint8_t Cpu6800::pull() {
    return bus_.read(++sp);
}

void Cpu6800::call(std::uint16_t target) {
    push(static_cast<std::uint8_t>(pc & 0xFF));
    push(static_cast<std::uint8_t>(pc >> 8));
    pc = target;
}

CpuStop Cpu6800::step() {
    const std::uint8_t op = fetch();
    lastOpcode = op;
    switch (op) {
    case 0x01: // NOP
        break;
    case 0x08: // INX: Z only
        ++x;
        cc = static_cast<std::uint8_t>(x == 0 ? (cc | Z) : (cc & ~Z));
        break;
    case 0x16: // TAB
        b = a;
        setNz8(b);
        break;
    case 0x20: // BRA
        branch(true);
        break;
    case 0x26: // BNE
        branch(!(cc & Z));
        break;
    case 0x27: // BEQ
        branch(cc & Z);
        break;
    case 0x33: // PULB
        b = pull();
        break;
    case 0x37: // PSHB
        push(b);
        break;
    case 0x39: { // RTS
        const std::uint16_t high = pull();
        pc = static_cast<std::uint16_t>(high << 8 | pull());
        break;
    }
    case 0x3F: // SWI: the loader gives up; the monitor would take over
        return CpuStop::Swi;
    case 0x5A: { // DECB
        const bool overflow = b == 0x80;
        --b;
        setNz8(b);
        if (overflow)
            cc |= V;
        break;
    }
    case 0x5D: // TSTB
        setNz8(b);
        cc = static_cast<std::uint8_t>(cc & ~C);
        break;
    case 0x6E: // JMP indexed
        pc = indexed();
        break;
    case 0x7E: // JMP extended
        pc = extended();
        break;
    case 0x7F: // CLR extended
        bus_.write(extended(), 0);
        cc = static_cast<std::uint8_t>((cc & ~(N | V | C)) | Z);
        break;
    case 0x81: // CMPA immediate
        compare8(a, fetch());
        break;
    case 0x85: // BITA immediate
        setNz8(a & fetch());
        break;
    case 0x86: // LDAA immediate
        a = fetch();
        setNz8(a);
        break;
    case 0x8C: { // CPX immediate
        const std::uint16_t operand = fetch16();
        setNz16(static_cast<std::uint16_t>(x - operand));
        break;
    }
    case 0x8D: { // BSR
        const auto offset = static_cast<std::int8_t>(fetch());
        call(static_cast<std::uint16_t>(pc + offset));
        break;
    }
    case 0x8E: // LDS immediate
        sp = fetch16();
        setNz16(sp);
        break;
    case 0xA6: // LDAA indexed
        a = bus_.read(indexed());
        setNz8(a);
        break;
    case 0xA7: // STAA indexed
        bus_.write(indexed(), a);
        setNz8(a);
        break;
    case 0xB1: // CMPA extended
        compare8(a, bus_.read(extended()));
        break;
    case 0xB6: // LDAA extended
        a = bus_.read(extended());
        setNz8(a);
        break;
    case 0xB7: // STAA extended
        bus_.write(extended(), a);
        setNz8(a);
        break;
    case 0xBD: // JSR extended
        call(extended());
        break;
    case 0xC1: // CMPB immediate
        compare8(b, fetch());
        break;
    case 0xC6: // LDAB immediate
        b = fetch();
        setNz8(b);
        break;
    case 0xCE: // LDX immediate
        x = fetch16();
        setNz16(x);
        break;
    case 0xE6: // LDAB indexed
        b = bus_.read(indexed());
        setNz8(b);
        break;
    case 0xE7: // STAB indexed
        bus_.write(indexed(), b);
        setNz8(b);
        break;
    case 0xEE: // LDX indexed
        x = bus_.read16(indexed());
        setNz16(x);
        break;
    case 0xF6: // LDAB extended
        b = bus_.read(extended());
        setNz8(b);
        break;
    case 0xF7: // STAB extended
        bus_.write(extended(), b);
        setNz8(b);
        break;
    case 0xFE: // LDX extended
        x = bus_.read16(extended());
        setNz16(x);
        break;
    case 0xFF: // STX extended
        bus_.write16(extended(), x);
        setNz16(x);
        break;
    default:
        pc = static_cast<std::uint16_t>(pc - 1);
        return CpuStop::UnknownOpcode;
    }
    return CpuStop::Running;
}

} // namespace dwtest
