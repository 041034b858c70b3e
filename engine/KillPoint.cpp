#include "engine/KillPoint.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#else
#include <io.h>
#endif

namespace dw {

namespace {
std::atomic<long> stepsLeft{0};

// True when this step is the kill point.
bool reachesKillPoint() {
    long left = stepsLeft.load();
    while (left > 0 && !stepsLeft.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
#ifndef _WIN32
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
#else
    if (_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0)
        return false;
    return _write(fd, bytes, static_cast<unsigned>(size)) == static_cast<int>(size);
#endif
}
} // namespace

void setKillPoint(long step) {
    stepsLeft.store(step > 0 ? step : 0);
}

bool writeCounted(int fd, const std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
    if (reachesKillPoint()) {
        constexpr std::uint64_t DiskSector = 512;
        const std::uint64_t tear = (offset + size / 2) / DiskSector * DiskSector;
        if (tear > offset)
            writeAll(fd, bytes, static_cast<std::size_t>(tear - offset), offset);
        std::_Exit(99);
    }
    return writeAll(fd, bytes, size, offset);
}

void countStep() {
    if (reachesKillPoint())
        std::_Exit(99);
}

} // namespace dw
