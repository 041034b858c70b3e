#pragma once

// Writes past a size fail with EFBIG, the way they fail on a full disk, while the object lives.

#include <csignal>

#include <sys/resource.h>

namespace dwtest {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN); // an error, not a signal that ends the test
        getrlimit(RLIMIT_FSIZE, &was_);
        rlimit limit = was_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &was_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit was_{};
};

} // namespace dwtest
