#pragma once

// The volume's own fields in the SIR: its label, number and creation date.

#include "engine/DiskImage.h"

#include <optional>
#include <string>

namespace dw {

// The fields to change; those left empty stay as they are.
struct VolumeFields {
    std::optional<std::string> label; // up to 11 printable characters, stored in upper case
    std::optional<std::uint16_t> number;
    std::optional<LocalDate> date; // 1970-01-01 to 2069-12-31, stored with a two-digit year
};

// Writes the fields into the SIR, as one change of the image. Refused, with the image unchanged:
// a read-only image (ReadOnly), a label too long or of other characters (InvalidName), a date
// that is none or outside the years two digits hold (BadDate), a SIR sector that a chain holds
// too (Damaged).
Status setVolume(DiskImage& image, const VolumeFields& fields);

inline constexpr std::size_t VolumeLabelLength = 11;

} // namespace dw
