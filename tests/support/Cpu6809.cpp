#include "tests/support/Cpu6809.h"
#include "tests/support/ConditionCodes.h"

namespace dwtest {

std::uint8_t Cpu6809::fetch() {
    return bus_.read(pc++);
}

std::uint16_t Cpu6809::fetch16() {
    const std::uint16_t high = fetch();
    return static_cast<std::uint16_t>(high << 8 | fetch());
}

std::uint16_t* Cpu6809::indexRegister(std::uint8_t postbyte) {
    switch ((postbyte >> 5) & 3) {
    case 0:
        return &x;
    case 1:
        return &y;
    case 2:
        return &u;
    default:
        return &s;
    }
}

bool Cpu6809::indexed(std::uint16_t& address) {
    const std::uint8_t postbyte = fetch();
    std::uint16_t* reg = indexRegister(postbyte);
    switch (postbyte & 0x9F) {
    case 0x80: // ,R+
        address = (*reg)++;
        return true;
    case 0x81: // ,R++
        address = *reg;
        *reg = static_cast<std::uint16_t>(*reg + 2);
        return true;
    case 0x84: // ,R
        address = *reg;
        return true;
    default:
        return false;
    }
}

std::uint8_t* Cpu6809::register8(int code) {
    switch (code) {
    case 8:
        return &a;
    case 9:
        return &b;
    case 10:
        return &cc;
    default:
        return nullptr;
    }
}

std::uint16_t* Cpu6809::register16(int code) {
    switch (code) {
    case 1:
        return &x;
    case 2:
        return &y;
    case 3:
        return &u;
    case 4:
        return &s;
    case 5:
        return &pc;
    default:
        return nullptr;
    }
}

void Cpu6809::setNz8(std::uint8_t value) {
    flags::setNz8(cc, value);
}

void Cpu6809::setNz16(std::uint16_t value) {
    flags::setNz16(cc, value);
}

void Cpu6809::compare8(std::uint8_t reg, std::uint8_t operand) {
    flags::compare8(cc, reg, operand);
}

void Cpu6809::compare16(std::uint16_t reg, std::uint16_t operand) {
    const std::uint16_t result = static_cast<std::uint16_t>(reg - operand);
    setNz16(result);
    cc = static_cast<std::uint8_t>(cc & ~C);
    if ((reg ^ operand) & (reg ^ result) & 0x8000)
        cc |= V;
    if (operand > reg)
        cc |= C;
}

void Cpu6809::branch(bool taken) {
    const auto offset = static_cast<std::int8_t>(fetch());
    if (taken)
        pc = static_cast<std::uint16_t>(pc + offset);
}

// Low byte first, so the high byte ends at the lower address.
void Cpu6809::push16(std::uint16_t value) {
    push(static_cast<std::uint8_t>(value & 0xFF));
    push(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t Cpu6809::pull16() {
    const std::uint16_t high = pull();
    return static_cast<std::uint16_t>(high << 8 | pull());
}

CpuStop Cpu6809::page2() {
    const std::uint8_t op = fetch();
    switch (op) {
    case 0x8C: // CMPY immediate
        compare16(y, fetch16());
        return CpuStop::Running;
    case 0x8E: // LDY immediate
        y = fetch16();
        setNz16(y);
        return CpuStop::Running;
    case 0xCE: // LDS immediate
        s = fetch16();
        setNz16(s);
        return CpuStop::Running;
    default:
        pc = static_cast<std::uint16_t>(pc - 2);
        return CpuStop::UnknownOpcode;
    }
}

CpuStop Cpu6809::step() {
    const std::uint16_t start = pc;
    const std::uint8_t op = fetch();
    std::uint16_t address = 0;
    switch (op) {
    case 0x10:
        return page2();
    case 0x1F: { // TFR between registers of the same size
        const std::uint8_t postbyte = fetch();
        const int from = postbyte >> 4, to = postbyte & 0x0F;
        if (from >= 8 && to >= 8 && register8(from) && register8(to)) {
            *register8(to) = *register8(from);
        } else if (from == 0 && register16(to)) {
            *register16(to) = d();
        } else if (register16(from) && register16(to)) {
            *register16(to) = *register16(from);
        } else {
            pc = start;
            return CpuStop::UnknownOpcode;
        }
        break;
    }
    case 0x20: // BRA
        branch(true);
        break;
    case 0x26: // BNE
        branch(!(cc & Z));
        break;
    case 0x27: // BEQ
        branch(cc & Z);
        break;
    case 0x34: { // PSHS: PC, U, Y, X, DP, B, A, CC in that order
        const std::uint8_t mask = fetch();
        if (mask & 0x80)
            push16(pc);
        if (mask & 0x40)
            push16(u);
        if (mask & 0x20)
            push16(y);
        if (mask & 0x10)
            push16(x);
        if (mask & 0x08) {
            pc = start;
            return CpuStop::UnknownOpcode; // DP is not modelled
        }
        if (mask & 0x04)
            push(b);
        if (mask & 0x02)
            push(a);
        if (mask & 0x01)
            push(cc);
        break;
    }
    case 0x35: { // PULS: the reverse order
        const std::uint8_t mask = fetch();
        if (mask & 0x08) {
            pc = start;
            return CpuStop::UnknownOpcode;
        }
        if (mask & 0x01)
            cc = pull();
        if (mask & 0x02)
            a = pull();
        if (mask & 0x04)
            b = pull();
        if (mask & 0x10)
            x = pull16();
        if (mask & 0x20)
            y = pull16();
        if (mask & 0x40)
            u = pull16();
        if (mask & 0x80)
            pc = pull16();
        break;
    }
    case 0x39: // RTS
        pc = pull16();
        break;
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
        if (!indexed(address)) {
            pc = start;
            return CpuStop::UnknownOpcode;
        }
        pc = address;
        break;
    case 0x7E: // JMP extended
        pc = fetch16();
        break;
    case 0x7F: // CLR extended
        bus_.write(fetch16(), 0);
        cc = static_cast<std::uint8_t>((cc & ~(N | V | C)) | Z);
        break;
    case 0x81: // CMPA immediate
        compare8(a, fetch());
        break;
    case 0x85: // BITA immediate
        setNz8(a & fetch());
        break;
    case 0x86: // LDA immediate
        a = fetch();
        setNz8(a);
        break;
    case 0x8D: { // BSR
        const auto offset = static_cast<std::int8_t>(fetch());
        push16(pc);
        pc = static_cast<std::uint16_t>(pc + offset);
        break;
    }
    case 0x8E: // LDX immediate
        x = fetch16();
        setNz16(x);
        break;
    case 0xA6: // LDA indexed
    case 0xA7: // STA indexed
        if (!indexed(address)) {
            pc = start;
            return CpuStop::UnknownOpcode;
        }
        if (op == 0xA6)
            a = bus_.read(address);
        else
            bus_.write(address, a);
        setNz8(a);
        break;
    case 0xB1: // CMPA extended
        compare8(a, bus_.read(fetch16()));
        break;
    case 0xB6: // LDA extended
        a = bus_.read(fetch16());
        setNz8(a);
        break;
    case 0xB7: // STA extended
        bus_.write(fetch16(), a);
        setNz8(a);
        break;
    case 0xBD: { // JSR extended
        const std::uint16_t target = fetch16();
        push16(pc);
        pc = target;
        break;
    }
    case 0xBE: // LDX extended
        x = bus_.read16(fetch16());
        setNz16(x);
        break;
    case 0xBF: // STX extended
        bus_.write16(fetch16(), x);
        setNz16(x);
        break;
    case 0xC6: // LDB immediate
        b = fetch();
        setNz8(b);
        break;
    case 0xF6: // LDB extended
        b = bus_.read(fetch16());
        setNz8(b);
        break;
    case 0xF7: // STB extended
        bus_.write(fetch16(), b);
        setNz8(b);
        break;
    case 0xFC: // LDD extended
        setD(bus_.read16(fetch16()));
        setNz16(d());
        break;
    case 0xFD: // STD extended
        bus_.write16(fetch16(), d());
        setNz16(d());
        break;
    default:
        pc = start;
        return CpuStop::UnknownOpcode;
    }
    return CpuStop::Running;
}

} // namespace dwtest
