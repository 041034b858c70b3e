#pragma once

// The consistency check: the directory, every file chain and the free chain, each sector owned
// by at most one of them and every data sector by one. Never writes.

#include "engine/DiskImage.h"

#include <string>
#include <vector>

namespace dw {

enum class FindingKind {
    Unreadable,       // the SIR cannot be used
    FileLength,       // the file length does not match the geometry
    OutsideGeometry,  // a chain sector beyond the last track
    SharedSector,     // a sector in two chains
    TrackZero,        // a file or free sector among the system and directory sectors
    DirectoryDamaged, // the directory chain loops or leaves the image
    ChainDamaged,     // a file chain loops or leaves the image
    ChainLength,      // a file chain longer or shorter than its sector count
    ChainEnd,         // a file chain that does not end at its last sector
    FreeCount,        // the free chain's length disagrees with the SIR
    FreeChainDamaged, // the free chain loops or leaves the image
    FreeEnd,          // the free chain does not end where the SIR says
    LostSectors,      // data sectors in no chain
};

struct CheckFinding {
    FindingKind kind = FindingKind::Unreadable;
    std::vector<SectorLink> sectors; // the sectors the sentence names, in its order
};

struct CheckReport {
    std::vector<std::string> findings; // one sentence each
    std::vector<CheckFinding> details; // the kind and sectors of each finding, in the same order
    bool clean() const { return findings.empty(); }
};

CheckReport checkImage(DiskImage& image);

} // namespace dw
