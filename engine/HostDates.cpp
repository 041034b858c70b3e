#include "engine/HostDates.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>

namespace dw {

namespace {

int daysInMonth(int year, int month) {
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : Days[month - 1];
}

} // namespace

Status hostFileDate(const std::filesystem::path& path, LocalDate& date) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {ErrorCode::ReadFailed,
                "Unable to read the date of " + path.string() + ": " + std::strerror(errno)};
    std::tm parts{};
    const std::time_t when = info.st_mtime;
    if (!localtime_r(&when, &parts) || parts.tm_year + 1900 < 1970 || parts.tm_year + 1900 > 2069)
        return {ErrorCode::BadDate, path.string() + " was last changed in " +
                                        std::to_string(parts.tm_year + 1900) +
                                        ", a year a FLEX date cannot hold (1970-2069)"};
    date = {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min};
    return {};
}

Status setHostFileDate(const std::filesystem::path& path, const DirectoryEntry& entry) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    const int year = fullYear(entry.year);
    if (entry.month < 1 || entry.month > 12 || entry.day < 1 ||
        entry.day > daysInMonth(year, entry.month))
        return {ErrorCode::BadDate, "its date " + dateText(entry.year, entry.month, entry.day) +
                                        " is no date; " + path.string() +
                                        " keeps the time of the export"};
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = entry.month - 1;
    parts.tm_mday = entry.day;
    parts.tm_hour = 12;
    parts.tm_isdst = -1;
    const std::time_t when = std::mktime(&parts);
    if (when == static_cast<std::time_t>(-1))
        return {ErrorCode::BadDate, "its date " + dateText(entry.year, entry.month, entry.day) +
                                        " has no local time; " + path.string() +
                                        " keeps the time of the export"};
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        return {ErrorCode::WriteFailed,
                "Unable to set the date of " + path.string() + ": " + std::strerror(errno)};
    return {};
}

} // namespace dw
