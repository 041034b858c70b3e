#include "engine/MemoryImage.h"

#include <algorithm>
#include <cstdio>

namespace dw {

void MemoryImage::load(std::uint16_t address, std::uint8_t value) {
    if (loaded_[address]) {
        if (overlaps_++ == 0)
            firstOverlap_ = address;
    } else {
        loaded_[address] = 1;
        ++count_;
    }
    bytes_[address] = value;
}

std::vector<MemoryImage::Run> MemoryImage::runs() const {
    std::vector<Run> result;
    for (auto at = loaded_.begin(); (at = std::find(at, loaded_.end(), 1)) != loaded_.end();) {
        const auto end = std::find(at, loaded_.end(), 0);
        result.push_back({static_cast<std::uint16_t>(at - loaded_.begin()),
                          static_cast<std::uint32_t>(end - at)});
        at = end;
    }
    return result;
}

std::string MemoryImage::overlapWarning() const {
    if (overlaps_ == 0)
        return {};
    return std::to_string(overlaps_) + (overlaps_ == 1 ? " byte was" : " bytes were") +
           " loaded more than once (the first at " + addressText(firstOverlap_) +
           "); the later ones are kept";
}

std::string addressText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, address > 0xFFFF ? "$%06X" : "$%04X", address);
    return text;
}

std::vector<std::uint8_t> flexBinary(const MemoryImage& memory) {
    std::vector<std::uint8_t> file;
    for (const MemoryImage::Run& run : memory.runs()) {
        for (std::uint32_t done = 0; done < run.size;) {
            const std::uint32_t count = std::min<std::uint32_t>(255, run.size - done);
            const std::uint32_t address = run.first + done;
            file.insert(file.end(),
                        {FlexLoadRecord, static_cast<std::uint8_t>(address >> 8),
                         static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(count)});
            for (std::uint32_t i = 0; i < count; ++i)
                file.push_back(memory.at(static_cast<std::uint16_t>(address + i)));
            done += count;
        }
    }
    if (memory.start)
        file.insert(file.end(), {FlexTransferRecord, static_cast<std::uint8_t>(*memory.start >> 8),
                                 static_cast<std::uint8_t>(*memory.start)});
    return file;
}

Status readFlexBinary(std::span<const std::uint8_t> file, MemoryImage& memory) {
    std::size_t at = 0;
    auto cutShort = [&](std::size_t recordAt) {
        return Status{ErrorCode::BadRecord,
                      "the file ends inside the record at byte " + std::to_string(recordAt)};
    };
    while (at < file.size()) {
        const std::size_t recordAt = at;
        const std::uint8_t kind = file[at++];
        if (kind == FlexTransferRecord) {
            if (file.size() - at < 2)
                return cutShort(recordAt);
            memory.start = static_cast<std::uint16_t>(file[at] << 8 | file[at + 1]);
            at += 2;
        } else if (kind == FlexLoadRecord) {
            if (file.size() - at < 3 || file.size() - at - 3 < file[at + 2])
                return cutShort(recordAt);
            const auto address = static_cast<std::uint16_t>(file[at] << 8 | file[at + 1]);
            const std::size_t count = file[at + 2];
            at += 3;
            for (std::size_t i = 0; i < count; ++i)
                memory.load(static_cast<std::uint16_t>(address + i), file[at + i]);
            at += count;
        }
    }
    return {};
}

std::vector<std::uint8_t> memoryBytes(const MemoryImage& memory) {
    const std::vector<MemoryImage::Run> runs = memory.runs();
    if (runs.empty())
        return {};
    const std::uint32_t first = runs.front().first;
    const std::uint32_t end = runs.back().first + runs.back().size;
    std::vector<std::uint8_t> bytes(end - first, 0);
    for (const MemoryImage::Run& run : runs)
        for (std::uint32_t i = 0; i < run.size; ++i)
            bytes[run.first + i - first] = memory.at(static_cast<std::uint16_t>(run.first + i));
    return bytes;
}

} // namespace dw
