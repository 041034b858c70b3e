#include "engine/Volume.h"

#include "engine/FlexName.h"
#include "engine/SectorMap.h"

#include <cstdio>

namespace dw {

namespace {

const char* const NothingChanged = "; nothing was changed";

bool realDate(const LocalDate& date) {
    static constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > days[date.month - 1])
        return false;
    const bool leap = date.year % 4 == 0 && (date.year % 100 != 0 || date.year % 400 == 0);
    return date.month != 2 || date.day <= 28 || leap;
}

} // namespace

Status setVolume(DiskImage& image, const VolumeFields& fields) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    if (fields.label) {
        const std::string& label = *fields.label;
        bool printable = true;
        for (char c : label)
            printable = printable && c >= 0x20 && c <= 0x7E;
        if (label.size() > VolumeLabelLength || !printable)
            return {ErrorCode::InvalidName, "\"" + label + "\" is no volume label (at most " +
                                                std::to_string(VolumeLabelLength) +
                                                " printable characters)" + NothingChanged};
    }
    if (fields.date) {
        const LocalDate& date = *fields.date;
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
        if (!realDate(date))
            return {ErrorCode::BadDate, text + std::string(" is no date") + NothingChanged};
        if (date.year < 1970 || date.year > 2069)
            return {ErrorCode::BadDate, text +
                                            std::string(" lies outside the years 1970 to 2069, "
                                                        "which a two-digit year holds") +
                                            NothingChanged};
    }

    ImageChange change(image);
    Status status = change.status();
    SystemInformationRecord sir;
    SectorMap map;
    if (status.ok())
        status = SectorMap::buildForChange(image, sir, map);
    if (!status.ok())
        return status;
    // A SIR sector that a file's chain runs through: the write would change that file too.
    if (const ChainDamage damage = map.recordsDamage(SectorMap::NoEntry))
        return {ErrorCode::Damaged, "The volume was not changed: " + damage.text};
    if (fields.label) {
        sir.volumeLabel.fill(0);
        const std::string label = upperCased(*fields.label);
        std::copy(label.begin(), label.end(), sir.volumeLabel.begin());
    }
    if (fields.number)
        sir.volumeNumber = *fields.number;
    if (fields.date) {
        sir.creationYear = yearByte(fields.date->year);
        sir.creationMonth = static_cast<std::uint8_t>(fields.date->month);
        sir.creationDay = static_cast<std::uint8_t>(fields.date->day);
    }
    status = image.writeSir(sir);
    return status.ok() ? change.commit() : status;
}

} // namespace dw
