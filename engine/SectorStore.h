#pragma once

// Where an image's bytes live: a file on disk, or a buffer in memory for tests and fuzzing.
// A store never changes its length; every transfer is positioned and whole or refused.

#include "engine/Status.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace dw {

// Advisory locks between programs that use one image: readers share it, a writer has it alone.
enum class LockKind { None, Shared, Exclusive };
enum class LockResult { Locked, Busy, Unsupported };

class SectorStore {
public:
    virtual ~SectorStore() = default;
    // The length, measured afresh (another program may have changed the file).
    virtual std::uint64_t size() = 0;
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> bytes) = 0;
    virtual bool write(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    virtual bool flush() = 0;
    // Writes what is pending and drops what was read ahead: the next read sees the file as it is.
    virtual bool forget() { return flush(); }
    // Takes, changes or (None) drops the store's lock without waiting.
    virtual LockResult lock(LockKind) { return LockResult::Locked; }
    // Flushes and puts what was written on stable storage.
    virtual bool sync() { return flush(); }
};

// A file through an unbuffered stdio stream, with a buffer of its own for each direction:
// reads fill a window of the file from the offset asked for (walks and copies go forward), and
// writes that follow each other are gathered into one. So a walk or copy in address order costs
// few system calls, and when an operation starts afresh (forget) nothing read before is reused.
class FileStore : public SectorStore {
public:
    static constexpr std::size_t BufferSize = std::size_t{64} * 1024;
    static constexpr std::size_t MinWindow = std::size_t{4} * 1024;

    explicit FileStore(std::FILE* file);
    ~FileStore() override;
    // Opens an image for reading and writing, or for reading only. Opened without waiting (a
    // pipe would block the open or its reads), and only a regular file is taken: anything else
    // is BadImage. OpenFailed carries the system's reason.
    static Status open(const std::string& path, bool writable, std::unique_ptr<FileStore>& out);
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    std::uint64_t size() override;
    bool read(std::uint64_t offset, std::span<std::uint8_t> bytes) override;
    bool write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool flush() override;
    bool forget() override;
    LockResult lock(LockKind kind) override;
    bool sync() override;

private:
    // Transfers straight to the file; a read may come back with fewer bytes at its end.
    std::size_t rawRead(std::uint64_t offset, std::uint8_t* bytes, std::size_t size);
    bool rawWrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size);
    bool writePending();

    std::FILE* file_ = nullptr;
#ifdef _WIN32
    bool positionKnown_ = false; // position_ is where the stream stands
    std::uint64_t position_ = 0;
#endif
    std::vector<std::uint8_t> window_; // file bytes from windowStart_
    std::uint64_t windowStart_ = 0;
    std::size_t windowSize_ = MinWindow; // doubles while reads go on forward
    std::vector<std::uint8_t> pending_;  // bytes to write at pendingStart_
    std::uint64_t pendingStart_ = 0;
};

// The caller's buffer is the image: it must outlive the store, and keeps its length.
class MemoryStore : public SectorStore {
public:
    explicit MemoryStore(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::uint64_t size() override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> bytes) override;
    bool write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool flush() override { return true; }

private:
    std::vector<std::uint8_t>& bytes_;
};

} // namespace dw
