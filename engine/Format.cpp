#include "engine/Format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace dw {

namespace {
template <std::size_t N> std::string terminated(const std::array<std::uint8_t, N>& field) {
    auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}
} // namespace

std::string linkText(SectorLink link) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d-%03d", link.track, link.sector);
    return text;
}

SystemInformationRecord SystemInformationRecord::parse(const std::uint8_t* b) {
    SystemInformationRecord sir;
    std::copy(b, b + 11, sir.volumeLabel.begin());
    sir.volumeNumber = getBigEndian16(b + 11);
    sir.firstFree = getLink(b + 13);
    sir.lastFree = getLink(b + 15);
    sir.freeSectorCount = getBigEndian16(b + 17);
    sir.creationMonth = b[19];
    sir.creationDay = b[20];
    sir.creationYear = b[21];
    sir.maxTrack = b[22];
    sir.maxSector = b[23];
    return sir;
}

void SystemInformationRecord::serialize(std::uint8_t* b) const {
    std::copy(volumeLabel.begin(), volumeLabel.end(), b);
    putBigEndian16(b + 11, volumeNumber);
    putLink(b + 13, firstFree);
    putLink(b + 15, lastFree);
    putBigEndian16(b + 17, freeSectorCount);
    b[19] = creationMonth;
    b[20] = creationDay;
    b[21] = creationYear;
    b[22] = maxTrack;
    b[23] = maxSector;
}

std::string SystemInformationRecord::label() const {
    return terminated(volumeLabel);
}

DirectoryEntry DirectoryEntry::parse(const std::uint8_t* b) {
    DirectoryEntry e;
    std::copy(b, b + 8, e.fileName.begin());
    std::copy(b + 8, b + 11, e.extension.begin());
    std::copy(b + 11, b + 13, e.reserved1.begin());
    e.startLink = getLink(b + 13);
    e.endLink = getLink(b + 15);
    e.sectorCount = getBigEndian16(b + 17);
    e.randomFlag = b[19];
    e.reserved2 = b[20];
    e.month = b[21];
    e.day = b[22];
    e.year = b[23];
    return e;
}

void DirectoryEntry::serialize(std::uint8_t* b) const {
    std::copy(fileName.begin(), fileName.end(), b);
    std::copy(extension.begin(), extension.end(), b + 8);
    std::copy(reserved1.begin(), reserved1.end(), b + 11);
    putLink(b + 13, startLink);
    putLink(b + 15, endLink);
    putBigEndian16(b + 17, sectorCount);
    b[19] = randomFlag;
    b[20] = reserved2;
    b[21] = month;
    b[22] = day;
    b[23] = year;
}

std::string DirectoryEntry::name() const {
    return terminated(fileName);
}
std::string DirectoryEntry::ext() const {
    return terminated(extension);
}

void DirectoryEntry::setName(const std::string& name, const std::string& ext) {
    fileName.fill(0);
    extension.fill(0);
    std::copy_n(name.begin(), std::min(name.size(), fileName.size()), fileName.begin());
    std::copy_n(ext.begin(), std::min(ext.size(), extension.size()), extension.begin());
}

int fullYear(std::uint8_t y) {
    return y < 70 ? 2000 + y : 1900 + y;
}

std::uint8_t yearByte(int calendarYear) {
    // Years that two digits would turn into 1970 and on keep the older form, which reads back.
    if (calendarYear >= 2070 && calendarYear <= 2155)
        return static_cast<std::uint8_t>(calendarYear - 1900);
    const int twoDigits = calendarYear % 100;
    return static_cast<std::uint8_t>(twoDigits < 0 ? twoDigits + 100 : twoDigits);
}

std::string dateText(std::uint8_t year, std::uint8_t month, std::uint8_t day) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", fullYear(year), month, day);
    return text;
}

LocalDate currentLocalDate() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min};
}

} // namespace dw
