#pragma once

// The consistency check: the directory, every file chain and the free chain, each sector owned
// by at most one of them and every data sector by one. Never writes.

#include "engine/DiskImage.h"

#include <string>
#include <vector>

namespace dw {

struct CheckReport {
    std::vector<std::string> findings; // one sentence each
    bool clean() const { return findings.empty(); }
};

CheckReport checkImage(DiskImage& image);

} // namespace dw
