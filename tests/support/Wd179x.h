#pragma once

// A model of a WD1771/1791-type floppy controller over one FLEX image, as far as the boot
// loaders need it: RESTORE, SEEK and READ SECTOR (single sector), programmed I/O through the
// data register with DRQ and BUSY in the status register. Commands complete at once; the
// sector IDs on a track are 1..sectorsPerTrack of the image (sides are not modelled).

#include <cstdint>
#include <string>
#include <vector>

namespace dwtest {

class Wd179x {
public:
    Wd179x(std::vector<std::uint8_t> image, int sectorsPerTrack);

    // Registers: 0 status (read) / command (write), 1 track, 2 sector, 3 data.
    std::uint8_t read(int reg);
    void write(int reg, std::uint8_t value);

    int headTrack() const { return head_; }
    int sectorsRead() const { return sectorsRead_; }
    // Commands the model does not know, as text; a test expects none.
    const std::vector<std::string>& faults() const { return faults_; }

    static constexpr std::uint8_t Busy = 0x01;
    static constexpr std::uint8_t Drq = 0x02;
    static constexpr std::uint8_t Track0 = 0x04;
    static constexpr std::uint8_t RecordNotFound = 0x10;
    static constexpr std::uint8_t HeadLoaded = 0x20;

private:
    void command(std::uint8_t value);
    void readSector();

    std::vector<std::uint8_t> image_;
    int spt_;
    int tracks_;
    int head_ = 0;
    std::uint8_t status_ = 0;
    std::uint8_t track_ = 0;
    std::uint8_t sector_ = 1;
    std::uint8_t data_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::size_t next_ = 0;
    bool transferring_ = false;
    int sectorsRead_ = 0;
    std::vector<std::string> faults_;
};

} // namespace dwtest
