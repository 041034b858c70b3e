#pragma once

// What both fuzz targets share: failing loudly, and a host file for imports that lives in
// memory (a memfd read through /proc/self/fd), so that no input costs a file on disk.

#include "engine/Import.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace dwfuzz {

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz: %s\n", what);
        std::abort();
    }
}

// A memory file that each input refills.
class MemoryHostFile {
public:
    MemoryHostFile() {
        fd_ = memfd_create("diskwright-fuzz-host", MFD_CLOEXEC);
        require(fd_ >= 0, "no memory file");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    // Returns the path the engine opens to read `bytes`.
    const std::string& hold(const std::uint8_t* bytes, std::size_t size) {
        require(ftruncate(fd_, 0) == 0, "cannot empty the memory file");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(done));
            require(n > 0, "cannot fill the memory file");
            done += static_cast<std::size_t>(n);
        }
        return path_;
    }

private:
    int fd_ = -1;
    std::string path_;
};

// The run's one memory file.
inline MemoryHostFile& memoryHost() {
    static MemoryHostFile host;
    return host;
}

// Refuses every question, so that only a file that fits under a free name is written.
class NoToEverything : public dw::ImportQuestions {
public:
    bool askName(std::string&) override { return false; }
    bool askYesNo(const std::string&) override { return false; }
    void tell(const std::string&) override {}
};

} // namespace dwfuzz
