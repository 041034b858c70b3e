#include "tests/support/Wd179x.h"

#include <cstdio>

namespace dwtest {

Wd179x::Wd179x(std::vector<std::uint8_t> image, int sectorsPerTrack)
    : image_(std::move(image)), spt_(sectorsPerTrack),
      tracks_(static_cast<int>(image_.size() / (256u * static_cast<unsigned>(sectorsPerTrack)))) {}

std::uint8_t Wd179x::read(int reg) {
    switch (reg) {
    case 0:
        return status_;
    case 1:
        return track_;
    case 2:
        return sector_;
    default:
        if (transferring_) {
            data_ = buffer_[next_++];
            if (next_ == buffer_.size()) {
                transferring_ = false;
                status_ = 0; // done: not busy, no DRQ, no error
            }
        }
        return data_;
    }
}

void Wd179x::write(int reg, std::uint8_t value) {
    switch (reg) {
    case 0:
        command(value);
        break;
    case 1:
        track_ = value;
        break;
    case 2:
        sector_ = value;
        break;
    default:
        data_ = value;
        break;
    }
}

void Wd179x::command(std::uint8_t value) {
    char text[48];
    if (transferring_) {
        std::snprintf(text, sizeof text, "command %02X while busy", value);
        faults_.push_back(text);
        return;
    }
    switch (value & 0xF0) {
    case 0x00: // RESTORE: step out to track 0
        head_ = 0;
        track_ = 0;
        status_ = Track0 | HeadLoaded;
        break;
    case 0x10: // SEEK: to the track in the data register
        head_ = data_;
        track_ = data_;
        status_ = static_cast<std::uint8_t>((head_ == 0 ? Track0 : 0) | HeadLoaded);
        break;
    case 0x80: // READ SECTOR, single
        readSector();
        break;
    default:
        std::snprintf(text, sizeof text, "unsupported command %02X", value);
        faults_.push_back(text);
        break;
    }
}

void Wd179x::readSector() {
    // The ID field must match both the track register and the sector register.
    if (head_ >= tracks_ || track_ != head_ || sector_ < 1 || sector_ > spt_) {
        status_ = RecordNotFound;
        return;
    }
    const std::size_t offset = (static_cast<std::size_t>(head_) * spt_ + sector_ - 1) * 256;
    buffer_.assign(image_.begin() + static_cast<std::ptrdiff_t>(offset),
                   image_.begin() + static_cast<std::ptrdiff_t>(offset + 256));
    next_ = 0;
    transferring_ = true;
    status_ = Busy | Drq;
    ++sectorsRead_;
}

} // namespace dwtest
