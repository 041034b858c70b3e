#include "tests/support/ImageBuilder.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace dwtest {

std::size_t layoutOffset(const Layout& layout, int sectorsPerTrack, Link l) {
    const std::size_t t0 = layout.trackZeroSectors ? layout.trackZeroSectors : sectorsPerTrack;
    const std::size_t index = l.track == 0
                                  ? static_cast<std::size_t>(l.sector - 1)
                                  : t0 + static_cast<std::size_t>(l.track - 1) * sectorsPerTrack +
                                        static_cast<std::size_t>(l.sector - 1);
    return static_cast<std::size_t>(layout.headerBytes) + index * 256;
}

std::vector<std::uint8_t> readChain(const std::vector<std::uint8_t>& image, const Layout& layout,
                                    int sectorsPerTrack, Link start, std::size_t limit) {
    std::vector<std::uint8_t> data;
    for (Link at = start; at.sector != 0 && limit > 0; --limit) {
        const std::size_t offset = layoutOffset(layout, sectorsPerTrack, at);
        if (offset + 256 > image.size())
            break;
        data.insert(data.end(), image.begin() + static_cast<std::ptrdiff_t>(offset + 4),
                    image.begin() + static_cast<std::ptrdiff_t>(offset + 256));
        at = {image[offset], image[offset + 1]};
    }
    return data;
}

std::vector<Link> chainLinks(const std::vector<std::uint8_t>& image, const Layout& layout,
                             int sectorsPerTrack, Link start, std::size_t limit) {
    const int t0 = layout.trackZeroSectors ? layout.trackZeroSectors : sectorsPerTrack;
    std::vector<Link> links;
    std::vector<bool> passed(256 * 256, false);
    for (Link at = start; at.sector != 0 && links.size() < limit;) {
        const std::size_t offset = layoutOffset(layout, sectorsPerTrack, at);
        const std::size_t index = static_cast<std::size_t>(at.track * 256 + at.sector);
        if (at.sector > (at.track == 0 ? t0 : sectorsPerTrack) || offset + 256 > image.size() ||
            passed[index])
            break;
        passed[index] = true;
        links.push_back(at);
        at = {image[offset], image[offset + 1]};
    }
    return links;
}

std::vector<EntrySpec> liveEntries(const std::vector<std::uint8_t>& image, const Layout& layout,
                                   int sectorsPerTrack) {
    std::vector<EntrySpec> entries;
    for (Link sector : chainLinks(image, layout, sectorsPerTrack, {0, 5})) {
        const std::uint8_t* p = image.data() + layoutOffset(layout, sectorsPerTrack, sector) + 16;
        for (int slot = 0; slot < 10; ++slot, p += 24) {
            if (p[0] == 0)
                return entries;
            if ((p[0] & 0x80) != 0)
                continue;
            auto text = [](const std::uint8_t* from, std::size_t n) {
                std::string t(reinterpret_cast<const char*>(from), n);
                return t.substr(0, t.find('\0'));
            };
            entries.push_back({text(p, 8),
                               text(p + 8, 3),
                               {p[13], p[14]},
                               {p[15], p[16]},
                               p[17] << 8 | p[18],
                               p[19],
                               p[21],
                               p[22],
                               p[23]});
        }
    }
    return entries;
}

ImageBuilder::ImageBuilder(int tracks, int sectorsPerTrack, const Layout& layout)
    : tracks_(tracks), spt_(sectorsPerTrack), layout_(layout),
      t0_(layout.trackZeroSectors ? layout.trackZeroSectors : sectorsPerTrack),
      bytes_(static_cast<std::size_t>(layout.headerBytes) +
                 (static_cast<std::size_t>(t0_) +
                  static_cast<std::size_t>(tracks - 1) * sectorsPerTrack) *
                     256,
             0) {
    // A header of recognisable bytes, which no reader may take for sectors.
    for (int i = 0; i < layout.headerBytes; ++i)
        bytes_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xA5 ^ i);
}

std::size_t ImageBuilder::offset(Link l) const {
    return layoutOffset(layout_, spt_, l);
}

std::uint8_t* ImageBuilder::sector(Link l) {
    std::size_t at = offset(l);
    const bool pastShortTrackZero = l.track == 0 && t0_ != spt_ && l.sector > t0_;
    if (l.sector < 1 || pastShortTrackZero || at + 256 > bytes_.size())
        throw std::out_of_range("ImageBuilder: no such sector");
    return bytes_.data() + at;
}

ImageBuilder ImageBuilder::formatted(int tracks, int spt, const std::string& label,
                                     const Layout& layout) {
    ImageBuilder b(tracks, spt, layout);
    b.setLink({0, 2}, {0, 3});
    b.setLink({0, 4}, {0, 5});
    for (int s = 5; s < b.t0_; ++s)
        b.setLink({0, s}, {0, s + 1});
    for (int t = 1; t < tracks; ++t)
        for (int s = 1; s <= spt; ++s)
            b.free_.push_back({t, s});
    for (std::size_t i = 0; i + 1 < b.free_.size(); ++i)
        b.setLink(b.free_[i], b.free_[i + 1]);
    SirSpec fields;
    fields.label = label;
    if (!b.free_.empty()) {
        fields.firstFree = b.free_.front();
        fields.lastFree = b.free_.back();
    }
    fields.freeCount = static_cast<int>(b.free_.size());
    b.sir(fields);
    return b;
}

ImageBuilder& ImageBuilder::sir(const SirSpec& fields) {
    sir_ = fields;
    std::uint8_t* p = bytes_.data() + layout_.headerBytes + 528;
    for (int i = 0; i < 11; ++i)
        p[i] = i < static_cast<int>(fields.label.size())
                   ? static_cast<std::uint8_t>(fields.label[i])
                   : 0;
    p[11] = static_cast<std::uint8_t>(fields.volumeNumber >> 8);
    p[12] = static_cast<std::uint8_t>(fields.volumeNumber);
    p[13] = static_cast<std::uint8_t>(fields.firstFree.track);
    p[14] = static_cast<std::uint8_t>(fields.firstFree.sector);
    p[15] = static_cast<std::uint8_t>(fields.lastFree.track);
    p[16] = static_cast<std::uint8_t>(fields.lastFree.sector);
    p[17] = static_cast<std::uint8_t>(fields.freeCount >> 8);
    p[18] = static_cast<std::uint8_t>(fields.freeCount);
    p[19] = static_cast<std::uint8_t>(fields.month);
    p[20] = static_cast<std::uint8_t>(fields.day);
    p[21] = static_cast<std::uint8_t>(fields.year);
    p[22] = static_cast<std::uint8_t>(fields.maxTrack ? fields.maxTrack : tracks_ - 1);
    p[23] = static_cast<std::uint8_t>(fields.maxSector ? fields.maxSector : spt_);
    return *this;
}

ImageBuilder& ImageBuilder::setLink(Link at, Link to) {
    std::uint8_t* p = sector(at);
    p[0] = static_cast<std::uint8_t>(to.track);
    p[1] = static_cast<std::uint8_t>(to.sector);
    return *this;
}

ImageBuilder& ImageBuilder::setRecord(Link at, int record) {
    std::uint8_t* p = sector(at);
    p[2] = static_cast<std::uint8_t>(record >> 8);
    p[3] = static_cast<std::uint8_t>(record);
    return *this;
}

ImageBuilder& ImageBuilder::setData(Link at, const std::vector<std::uint8_t>& data,
                                    int dataOffset) {
    std::uint8_t* p = sector(at) + 4 + dataOffset;
    for (std::size_t i = 0; i < data.size() && dataOffset + i < 252; ++i)
        p[i] = data[i];
    return *this;
}

ImageBuilder& ImageBuilder::rawEntry(Link dirSector, int slot, const std::vector<std::uint8_t>& b) {
    std::uint8_t* p = sector(dirSector) + 16 + 24 * slot;
    for (std::size_t i = 0; i < 24; ++i)
        p[i] = i < b.size() ? b[i] : 0;
    return *this;
}

ImageBuilder& ImageBuilder::entry(Link dirSector, int slot, const EntrySpec& e) {
    std::vector<std::uint8_t> b(24, 0);
    for (std::size_t i = 0; i < 8 && i < e.name.size(); ++i)
        b[i] = static_cast<std::uint8_t>(e.name[i]);
    for (std::size_t i = 0; i < 3 && i < e.ext.size(); ++i)
        b[8 + i] = static_cast<std::uint8_t>(e.ext[i]);
    b[13] = static_cast<std::uint8_t>(e.start.track);
    b[14] = static_cast<std::uint8_t>(e.start.sector);
    b[15] = static_cast<std::uint8_t>(e.end.track);
    b[16] = static_cast<std::uint8_t>(e.end.sector);
    b[17] = static_cast<std::uint8_t>(e.count >> 8);
    b[18] = static_cast<std::uint8_t>(e.count);
    b[19] = static_cast<std::uint8_t>(e.random);
    b[21] = static_cast<std::uint8_t>(e.month);
    b[22] = static_cast<std::uint8_t>(e.day);
    b[23] = static_cast<std::uint8_t>(e.year);
    return rawEntry(dirSector, slot, b);
}

ImageBuilder& ImageBuilder::chain(const std::vector<Link>& sectors) {
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        setLink(sectors[i], i + 1 < sectors.size() ? sectors[i + 1] : Link{0, 0});
        setRecord(sectors[i], static_cast<int>(i + 1));
    }
    return *this;
}

ImageBuilder& ImageBuilder::addFile(const std::string& name, const std::string& ext,
                                    const std::vector<std::uint8_t>& data, bool random) {
    std::size_t needed = (data.size() + 251) / 252;
    if (needed > free_.size())
        throw std::runtime_error("ImageBuilder: disk full");
    std::vector<Link> used(free_.begin(), free_.begin() + static_cast<std::ptrdiff_t>(needed));
    free_.erase(free_.begin(), free_.begin() + static_cast<std::ptrdiff_t>(needed));
    for (std::size_t i = 0; i < used.size(); ++i) {
        std::uint8_t* p = sector(used[i]);
        std::fill(p + 4, p + 256, std::uint8_t{0});
        std::size_t from = i * 252;
        std::size_t n = std::min<std::size_t>(252, data.size() - from);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(from),
                  data.begin() + static_cast<std::ptrdiff_t>(from + n), p + 4);
    }
    chain(used);
    EntrySpec e;
    e.name = name;
    e.ext = ext;
    if (!used.empty()) {
        e.start = used.front();
        e.end = used.back();
    }
    e.count = static_cast<int>(used.size());
    e.random = random ? 2 : 0;
    int dirSector = 5 + nextSlot_ / 10;
    if (dirSector > t0_)
        throw std::runtime_error("ImageBuilder: directory full");
    entry({0, dirSector}, nextSlot_ % 10, e);
    ++nextSlot_;
    sir_.firstFree = free_.empty() ? Link{0, 0} : free_.front();
    if (free_.empty())
        sir_.lastFree = {0, 0};
    sir_.freeCount = static_cast<int>(free_.size());
    return sir(sir_);
}

std::string ImageBuilder::save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size()));
    if (!out)
        throw std::runtime_error("ImageBuilder: cannot write " + path);
    return path;
}

std::string tempPath(const std::string& name) {
    static std::atomic<int> counter{0};
    auto dir = std::filesystem::temp_directory_path() / "diskwright-tests";
    std::filesystem::create_directories(dir);
    return (dir / (std::to_string(counter++) + "-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::filesystem::path tempFolder(const std::string& name) {
    const std::filesystem::path dir = tempPath(name);
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void writeFileText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace dwtest
