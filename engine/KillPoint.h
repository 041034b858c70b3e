#pragma once

// A stand-in for kill -9 or a power cut, for tests: every write that changes an image or its
// rollback journal on disk, and every removal of a journal, is counted, and with a kill point
// set the process ends at that one. A write ends half done, torn where a power cut tears one:
// at a boundary of the disk's 512-byte sectors.

#include <cstddef>
#include <cstdint>

namespace dw {

// 0 (the default) never ends the process; n ends it at the n-th counted step from now.
void setKillPoint(long step);

// Writes bytes at offset of fd, whole (retrying short writes), and counts the write.
bool writeCounted(int fd, const std::uint8_t* bytes, std::size_t size, std::uint64_t offset);

// Counts a step that writes nothing (a journal's removal); at the kill point the process ends
// before it.
void countStep();

} // namespace dw
