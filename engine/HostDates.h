#pragma once

// Dates between host files and directory entries: a FLEX year byte tells only 1970-2069 apart
// (below 70 it is 20xx), and a host file's time is a moment, taken at noon local time for a
// FLEX date so that no time zone moves it to another day.

#include "engine/Format.h"
#include "engine/Status.h"

#include <filesystem>

namespace dw {

// The local date of the host file's last modification. BadDate when its year lies outside
// 1970-2069.
Status hostFileDate(const std::filesystem::path& path, LocalDate& date);

// Sets the modification time of a regular host file to noon, local time, of the entry's date
// (the year read as the listing reads it); anything else (a device, standard output) is left
// alone. BadDate, changing nothing, when the entry's date is no date (month 13, 31 April).
Status setHostFileDate(const std::filesystem::path& path, const DirectoryEntry& entry);

} // namespace dw
