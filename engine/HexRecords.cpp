#include "engine/HexRecords.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dw {

namespace {

std::string hex2(unsigned value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A failure of one line: "line N: what".
Status badLine(std::size_t line, const std::string& what) {
    return {ErrorCode::BadRecord, "line " + std::to_string(line) + ": " + what};
}

// Calls `record` with each line that is not blank, its number and its text without the blanks
// and line end around it, until one fails.
Status eachLine(std::string_view text,
                const std::function<Status(std::size_t, std::string_view)>& record) {
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos)
            continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        if (Status status = record(number, line); !status.ok())
            return status;
    }
    return {};
}

// The bytes of a record's hex digits, with the checks every record needs: only hex digits, in
// pairs, and as many bytes as the byte count (the first byte) and `countExtra` make.
Status recordBytes(std::size_t line, std::string_view digits, std::size_t countExtra,
                   std::vector<std::uint8_t>& bytes) {
    if (digits.size() % 2 != 0)
        return badLine(line, "an odd number of hex digits");
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = hexDigit(digits[i]);
        const int low = hexDigit(digits[i + 1]);
        if (high < 0 || low < 0)
            return badLine(line, "'" + std::string(1, high < 0 ? digits[i] : digits[i + 1]) +
                                     "' is not a hex digit");
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    if (bytes.empty() || bytes.size() != bytes[0] + countExtra)
        return badLine(line, "the byte count says " +
                                 std::to_string(bytes.empty() ? 0 : bytes[0] + countExtra) +
                                 " bytes, the record holds " + std::to_string(bytes.size()));
    return {};
}

std::uint32_t bigEndian(const std::uint8_t* p, std::size_t n) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i)
        value = value << 8 | p[i];
    return value;
}

Status loadData(std::size_t line, std::uint32_t address, std::span<const std::uint8_t> data,
                MemoryImage& memory) {
    if (address + data.size() > MemorySize)
        return badLine(line, "its data at " + addressText(address) + " reach beyond 64 KiB");
    for (std::size_t i = 0; i < data.size(); ++i)
        memory.load(static_cast<std::uint16_t>(address + i), data[i]);
    return {};
}

Status setStart(std::size_t line, std::uint32_t address, MemoryImage& memory) {
    if (address >= MemorySize)
        return badLine(line, "the start address " + addressText(address) + " lies beyond 64 KiB");
    if (address != 0)
        memory.start = static_cast<std::uint16_t>(address);
    return {};
}

// Reading state common to both formats: what has been seen so far.
struct Reading {
    std::vector<std::uint8_t> bytes;
    bool ended = false;
    std::size_t dataRecords = 0;
};

Status readSRecord(std::size_t line, std::string_view text, Reading& r, MemoryImage& memory) {
    if (text.size() < 2 || (text[0] != 'S' && text[0] != 's'))
        return badLine(line, "not an S-record (it does not begin with S)");
    const char type = text[1];
    // Address bytes of each record type; 0 for a type that does not exist.
    static constexpr std::size_t AddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (type < '0' || type > '9' || AddressBytes[type - '0'] == 0)
        return badLine(line, "S" + std::string(1, type) + " is not an S-record type");
    const std::size_t addressBytes = AddressBytes[type - '0'];
    if (Status status = recordBytes(line, text.substr(2), 1, r.bytes); !status.ok())
        return status;
    const std::vector<std::uint8_t>& b = r.bytes;
    if (b.size() < addressBytes + 2)
        return badLine(line, "too short for its address and checksum");
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        sum += b[i];
    const unsigned expected = ~sum & 0xFF;
    if (b.back() != expected)
        return badLine(line,
                       "the checksum is " + hex2(b.back()) + ", the bytes give " + hex2(expected));
    if (r.ended)
        return badLine(line, "a record after the end record");
    const std::uint32_t address = bigEndian(&b[1], addressBytes);
    const std::span<const std::uint8_t> data(b.data() + 1 + addressBytes,
                                             b.size() - 2 - addressBytes);
    switch (type) {
    case '1':
    case '2':
    case '3':
        ++r.dataRecords;
        return loadData(line, address, data, memory);
    case '5':
    case '6':
        if (address != r.dataRecords)
            return badLine(line, "it counts " + std::to_string(address) +
                                     " data records, the file holds " +
                                     std::to_string(r.dataRecords) + " before it");
        return {};
    case '7':
    case '8':
    case '9':
        r.ended = true;
        return setStart(line, address, memory);
    default: // S0: the header
        return {};
    }
}

Status readHexRecord(std::size_t line, std::string_view text, Reading& r, std::uint32_t& base,
                     MemoryImage& memory) {
    if (text.empty() || text[0] != ':')
        return badLine(line, "not an Intel HEX record (it does not begin with :)");
    if (Status status = recordBytes(line, text.substr(1), 5, r.bytes); !status.ok())
        return status;
    const std::vector<std::uint8_t>& b = r.bytes;
    unsigned sum = 0;
    for (std::uint8_t byte : b)
        sum += byte;
    if ((sum & 0xFF) != 0)
        return badLine(line, "the checksum is " + hex2(b.back()) + ", the bytes give " +
                                 hex2(b.back() - sum));
    if (r.ended)
        return badLine(line, "a record after the end record");
    const std::uint8_t type = b[3];
    const std::span<const std::uint8_t> data(b.data() + 4, b.size() - 5);
    static constexpr std::size_t DataBytes[6] = {0, 0, 2, 4, 2, 4}; // of types 02-05
    if (type > 5)
        return badLine(line, "record type " + hex2(type) + " is not an Intel HEX type");
    if (type >= 2 && data.size() != DataBytes[type])
        return badLine(line, "a record of type " + hex2(type) + " holds " +
                                 std::to_string(DataBytes[type]) + " data bytes, this one " +
                                 std::to_string(data.size()));
    switch (type) {
    case 0:
        return loadData(line, base + bigEndian(&b[1], 2), data, memory);
    case 1:
        r.ended = true;
        return {};
    case 2:
        base = bigEndian(data.data(), 2) << 4;
        return {};
    case 4:
        base = bigEndian(data.data(), 2) << 16;
        return {};
    case 3:
        return setStart(line, (bigEndian(data.data(), 2) << 4) + bigEndian(data.data() + 2, 2),
                        memory);
    default: // 05
        return setStart(line, bigEndian(data.data(), 4), memory);
    }
}

// One record line: the start character, the bytes as hex, and the checksum made as `format`
// makes it.
std::string recordLine(RecordFormat format, const std::string& head,
                       const std::vector<std::uint8_t>& bytes) {
    std::string line = head;
    unsigned sum = 0;
    for (std::uint8_t byte : bytes) {
        line += hex2(byte);
        sum += byte;
    }
    return line + hex2(format == RecordFormat::SRecords ? ~sum : 0x100 - (sum & 0xFF)) + "\n";
}

// Each run of the memory in pieces of at most 16 bytes.
void eachPiece(const MemoryImage& memory,
               const std::function<void(std::uint16_t, const std::vector<std::uint8_t>&)>& piece) {
    for (const MemoryImage::Run& run : memory.runs()) {
        for (std::uint32_t done = 0; done < run.size; done += 16) {
            std::vector<std::uint8_t> data;
            const auto address = static_cast<std::uint16_t>(run.first + done);
            for (std::uint32_t i = 0; i < std::min<std::uint32_t>(16, run.size - done); ++i)
                data.push_back(memory.at(static_cast<std::uint16_t>(address + i)));
            piece(address, data);
        }
    }
}

} // namespace

Status readRecords(RecordFormat format, std::string_view text, MemoryImage& memory,
                   std::vector<std::string>& warnings) {
    Reading reading;
    std::uint32_t base = 0;
    Status status = eachLine(text, [&](std::size_t line, std::string_view record) {
        return format == RecordFormat::SRecords
                   ? readSRecord(line, record, reading, memory)
                   : readHexRecord(line, record, reading, base, memory);
    });
    if (!status.ok())
        return status;
    if (!reading.ended)
        warnings.emplace_back(format == RecordFormat::SRecords
                                  ? "no end record (S9, S8 or S7); the file may be cut short"
                                  : "no end record (type 01); the file may be cut short");
    if (std::string overlap = memory.overlapWarning(); !overlap.empty())
        warnings.push_back(overlap);
    return {};
}

std::string writeSRecords(const MemoryImage& memory, const std::string& header) {
    const std::string name = header.substr(0, 64);
    std::vector<std::uint8_t> s0 = {static_cast<std::uint8_t>(name.size() + 3), 0, 0};
    s0.insert(s0.end(), name.begin(), name.end());
    std::string text = recordLine(RecordFormat::SRecords, "S0", s0);
    eachPiece(memory, [&](std::uint16_t address, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size() + 3),
                                           static_cast<std::uint8_t>(address >> 8),
                                           static_cast<std::uint8_t>(address)};
        bytes.insert(bytes.end(), data.begin(), data.end());
        text += recordLine(RecordFormat::SRecords, "S1", bytes);
    });
    const std::uint16_t start = memory.start.value_or(0);
    return text +
           recordLine(RecordFormat::SRecords, "S9",
                      {3, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start)});
}

std::string writeIntelHex(const MemoryImage& memory) {
    std::string text;
    eachPiece(memory, [&](std::uint16_t address, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                           static_cast<std::uint8_t>(address >> 8),
                                           static_cast<std::uint8_t>(address), 0x00};
        bytes.insert(bytes.end(), data.begin(), data.end());
        text += recordLine(RecordFormat::IntelHex, ":", bytes);
    });
    if (memory.start)
        text += recordLine(RecordFormat::IntelHex, ":",
                           {4, 0, 0, 0x05, 0, 0, static_cast<std::uint8_t>(*memory.start >> 8),
                            static_cast<std::uint8_t>(*memory.start)});
    return text + recordLine(RecordFormat::IntelHex, ":", {0, 0, 0, 0x01});
}

Status readRecordFile(const std::string& path, std::string& text) {
    // Opened without waiting and taken only when it is a regular file: a pipe with no writer,
    // or a device, could block for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {ErrorCode::OpenFailed, "Unable to open " + path};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {ErrorCode::ReadFailed, path + " is not a regular file (a folder, device or pipe)"};
    }
    text.clear();
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return {ErrorCode::ReadFailed, "Unable to read " + path};
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > MaxRecordTextSize) {
            ::close(fd);
            return {ErrorCode::BadRecord, path + " is larger than " +
                                              std::to_string(MaxRecordTextSize >> 20) +
                                              " MiB, more than a program for 64 KiB needs"};
        }
    }
    ::close(fd);
    return {};
}

} // namespace dw
