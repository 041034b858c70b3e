#include "engine/HostFile.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dw {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> unnamedAllowed{true};

// Temporary names that a signal must remove. A folder descriptor and a short name are all the
// handler needs: unlinkat is safe to call there, and long paths never come into it.
struct PendingName {
    std::atomic<int> state{0}; // Free, Filling, or Armed: to be removed on a signal
    int folder = -1;
    std::array<char, 16> name{};
};
enum : int { Free, Filling, Armed };
std::array<PendingName, 64> pendingNames;
constexpr std::array<int, 3> CleanupSignals = {SIGINT, SIGTERM, SIGHUP};

void removePendingNames(int signal) {
    for (PendingName& pending : pendingNames)
        if (pending.state.load() == Armed)
            unlinkat(pending.folder, pending.name.data(), 0);
    // SA_RESETHAND put the default action back: raised again, the signal ends the program as
    // it would have without us.
    raise(signal);
}

// Only signals that still have their default action: a program's own handler stays in charge.
void installSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal : CleanupSignals) {
            struct sigaction current {};
            if (sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
                current.sa_handler != SIG_DFL)
                continue;
            struct sigaction action {};
            action.sa_handler = removePendingNames;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            sigaction(signal, &action, nullptr);
        }
    });
}

// Returns the slot, or -1 when every slot is taken (the name then stays after a signal).
int armName(int folder, const std::array<char, 16>& name) {
    for (std::size_t i = 0; i < pendingNames.size(); ++i) {
        int expected = Free;
        if (pendingNames[i].state.compare_exchange_strong(expected, Filling)) {
            pendingNames[i].folder = folder;
            pendingNames[i].name = name;
            pendingNames[i].state.store(Armed);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void disarmName(int slot) {
    if (slot >= 0)
        pendingNames[static_cast<std::size_t>(slot)].state.store(Free);
}

// Holds off the cleanup signals while a name is made and armed, or renamed and disarmed, so
// that a signal never finds a name that is not yet or no longer ours.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : CleanupSignals)
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// ".dw-" and eight hex digits: short whatever the destination's name, and hidden.
std::array<char, 16> temporaryName() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::array<char, 16> name{};
    std::snprintf(name.data(), name.size(), ".dw-%08x", static_cast<unsigned>(generator()));
    return name;
}

// Writes go to a descriptor through a buffer of our own; the first failure's errno is kept.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd), buffer_(std::size_t{256} * 1024) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain() {
        if (error_ != 0)
            return false;
        for (const char* p = pbase(); p < pptr();) {
            const ssize_t written = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                error_ = written < 0 ? errno : EIO;
                return false;
            }
            p += written;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return true;
    }

    int fd_;
    std::vector<char> buffer_;
    int error_ = 0;
};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }

private:
    int fd_;
};

// The file being written: unnamed until it is linked in, or under a short hidden name that a
// signal removes. Whatever is not committed is removed when it goes.
class TemporaryFile {
public:
    explicit TemporaryFile(int folder) : folder_(folder) {}
    ~TemporaryFile() {
        const int saved = errno;
        if (named_) {
            SignalsHeld held;
            unlinkat(folder_, name_.data(), 0);
            disarmName(slot_);
        }
        errno = saved;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return file_.get(); }

    // `mode`: the permission bits, less the umask.
    bool create(mode_t mode) {
#ifdef O_TMPFILE
        static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
        // An unnamed file vanishes by itself whatever ends the program, even kill -9.
        if (unnamedAllowed && procFds) {
            file_.reset(openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
            if (file_.get() >= 0)
                return true;
        }
#endif
        return underTemporaryName([&](const char* name) {
            file_.reset(openat(folder_, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
            return file_.get() >= 0;
        });
    }

    // Puts the complete file under `name`; false with errno set, or with `clash` when
    // `replace` is false and the name exists.
    bool commit(const char* name, bool replace, bool& clash) {
        clash = false;
        if (!named_) {
            const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
            if (!replace) {
                // linkat never replaces: the name appears whole or not at all.
                if (linkat(AT_FDCWD, self.c_str(), folder_, name, AT_SYMLINK_FOLLOW) == 0)
                    return true;
                clash = errno == EEXIST;
                return false;
            }
            // linkat cannot replace a name: link under a name of our own, then rename that.
            if (!linkUnderTemporaryName(self))
                return false;
        }
        SignalsHeld held;
#ifdef RENAME_NOREPLACE
        int renamed = replace ? renameat(folder_, name_.data(), folder_, name)
                              : renameat2(folder_, name_.data(), folder_, name, RENAME_NOREPLACE);
#else
        errno = EINVAL; // no such rename here: the way below
        int renamed = replace ? renameat(folder_, name_.data(), folder_, name) : -1;
#endif
        if (renamed != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename.
            struct stat info {};
            if (fstatat(folder_, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                errno = EEXIST;
            else
                renamed = renameat(folder_, name_.data(), folder_, name);
        }
        if (renamed != 0) {
            clash = !replace && errno == EEXIST;
            return false;
        }
        named_ = false;
        disarmName(slot_);
        return true;
    }

private:
    bool linkUnderTemporaryName(const std::string& self) {
        return underTemporaryName([&](const char* name) {
            return linkat(AT_FDCWD, self.c_str(), folder_, name, AT_SYMLINK_FOLLOW) == 0;
        });
    }

    // Makes the file's name with `make` under fresh temporary names until one is free, and
    // arms the name that worked for removal on a signal; false with errno set.
    template <class Make> bool underTemporaryName(Make make) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::array<char, 16> name = temporaryName();
            SignalsHeld held;
            if (make(name.data())) {
                name_ = name;
                named_ = true;
                slot_ = armName(folder_, name_);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    int folder_;
    Descriptor file_;
    std::array<char, 16> name_{};
    bool named_ = false;
    int slot_ = -1;
};

struct Outcome {
    Status status;
    int reason = 0; // errno for the caller
};

Outcome openFailed(const fs::path& destination, int reason) {
    return {{ErrorCode::OpenFailed, "Unable to open target file " + destination.string()}, reason};
}

Outcome writeFailed(const fs::path& destination, bool replacing, int reason) {
    return {{ErrorCode::WriteFailed,
             "Unable to write the target file " + destination.string() +
                 (replacing ? "; it was left as it was" : "; no file was made")},
            reason};
}

// /dev/stdout, /dev/null and the like, and the descriptors under /proc: these are written,
// never replaced, and their links are the system's own.
bool inSystemFolder(const fs::path& folder) {
    std::error_code ec;
    const std::string canonical = fs::canonical(folder, ec).string();
    return !ec && (canonical == "/dev" || canonical == "/proc" || canonical.starts_with("/proc/"));
}

// A device or pipe cannot be replaced by a rename: write it in place, appending, so that
// standard output redirected to a file keeps what is already there. Opened without waiting: a
// pipe that nobody reads is refused at once (ENXIO); one with a reader is then written as usual.
Outcome writeDirectly(int folder, const fs::path& destination, bool followLinks,
                      const std::function<Status(std::ostream&)>& produce) {
    const int flags =
        O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW);
    Descriptor file(folder >= 0 ? openat(folder, destination.filename().c_str(), flags)
                                : ::open(destination.c_str(), flags));
    const int opened = file.get() < 0 ? -1 : fcntl(file.get(), F_GETFL);
    if (opened < 0 || fcntl(file.get(), F_SETFL, opened & ~O_NONBLOCK) != 0)
        return openFailed(destination, errno);
    DescriptorBuffer buffer(file.get());
    std::ostream out(&buffer);
    Status produced = produce(out);
    const int reason = errno;
    out.flush();
    if (!produced.ok() && produced.code() != ErrorCode::WriteFailed)
        return {produced, reason};
    if (!produced.ok() || !out)
        return {{ErrorCode::WriteFailed, "Unable to write the target file " + destination.string()},
                buffer.error()};
    return {};
}

Outcome writeWhole(const fs::path& destination, bool replaceExisting, unsigned newFileMode,
                   const std::function<Status(std::ostream&)>& produce) {
    installSignalCleanup();
    const fs::path name = destination.filename();
    const fs::path folderPath = destination.has_parent_path() ? destination.parent_path() : ".";
    if (name.empty() || name == "." || name == "..")
        return openFailed(destination, EISDIR);
    if (inSystemFolder(folderPath))
        return writeDirectly(-1, destination, true, produce);

    Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return openFailed(destination, errno);
    struct stat existing {};
    const bool exists = fstatat(folder.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return openFailed(destination, errno);
    if (exists) {
        if (S_ISDIR(existing.st_mode))
            return openFailed(destination, EISDIR);
        if (S_ISLNK(existing.st_mode) && !replaceExisting)
            return {{ErrorCode::Exists,
                     destination.string() + " is a symbolic link; nothing was written through it"},
                    0};
        if (!S_ISLNK(existing.st_mode) && !S_ISREG(existing.st_mode))
            return writeDirectly(folder.get(), destination, false, produce);
        if (!replaceExisting)
            return {{ErrorCode::Exists, destination.string() + " already exists; it was not "
                                                               "overwritten"},
                    0};
    }
    const bool replacingFile = exists && S_ISREG(existing.st_mode);

    TemporaryFile temporary(folder.get());
    if (!temporary.create(static_cast<mode_t>(newFileMode & 0777)))
        return openFailed(destination, errno);
    if (replacingFile && fchmod(temporary.fd(), existing.st_mode & 0777) != 0)
        return openFailed(destination, errno);

    DescriptorBuffer buffer(temporary.fd());
    std::ostream out(&buffer);
    Status produced = produce(out);
    const int reason = errno;
    out.flush();
    if (!produced.ok() && produced.code() != ErrorCode::WriteFailed)
        return {produced, reason};
    if (!produced.ok() || !out)
        return writeFailed(destination, exists, buffer.error() != 0 ? buffer.error() : reason);
    if (fsync(temporary.fd()) != 0)
        return writeFailed(destination, exists, errno);

    bool clash = false;
    if (!temporary.commit(name.c_str(), replaceExisting, clash)) {
        if (clash)
            return {{ErrorCode::Exists, destination.string() + " already exists; it was not "
                                                               "overwritten"},
                    0};
        return writeFailed(destination, exists, errno);
    }
    // The new name is on disk only once its folder is; file systems that cannot sync a folder
    // say EINVAL.
    if (fsync(folder.get()) != 0 && errno != EINVAL)
        return {{ErrorCode::WriteFailed,
                 "Unable to write the target file " + destination.string() +
                     " to disk; it is in place but may not survive a power cut"},
                errno};
    return {};
}

} // namespace

Status writeHostFile(const fs::path& destination, bool replaceExisting,
                     const std::function<Status(std::ostream&)>& produce, unsigned newFileMode) {
    Outcome outcome = writeWhole(destination, replaceExisting, newFileMode, produce);
    errno = outcome.reason;
    return outcome.status;
}

void useUnnamedTemporaryFiles(bool use) {
    unnamedAllowed = use;
}

} // namespace dw
