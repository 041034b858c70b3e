#include "engine/Rename.h"

#include "engine/FlexName.h"
#include "engine/SectorMap.h"

#include <algorithm>

namespace dw {

Status renameFile(DiskImage& image, const std::string& oldName, const std::string& newName) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    const std::optional<FlexName> wanted = typedFlexName(newName);
    if (!wanted)
        return {ErrorCode::InvalidName,
                oldName + " was not renamed: \"" + newName +
                    "\" is not a FLEX file name (NAME.EXT: 1 to 8 and 1 to 3 printable "
                    "characters); nothing was changed"};

    ImageChange change(image);
    SectorMap map;
    Status status = change.status();
    SystemInformationRecord sir;
    if (status.ok())
        status = SectorMap::buildForChange(image, sir, map);
    if (!status.ok())
        return status;
    // The whole directory is known before anything is written: a name beyond damage could clash.
    if (!map.directoryStatus().ok())
        return {ErrorCode::Damaged, oldName + " was not renamed: " + map.directoryStatus().text() +
                                        "; nothing was changed"};
    const std::vector<MappedEntry>& entries = map.entries();
    std::size_t match = SectorMap::NoEntry;
    for (bool exact : {true, false})
        for (std::size_t i = 0; i < entries.size() && match == SectorMap::NoEntry; ++i) {
            const std::string text = entries[i].shownName();
            if (entries[i].state == EntryState::Live &&
                (exact ? text == oldName : upperCased(text) == upperCased(oldName)))
                match = i;
        }
    if (match == SectorMap::NoEntry)
        return {ErrorCode::NotFound, oldName + " is not on the disk"};
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (i != match && entries[i].state == EntryState::Live &&
            entries[i].shownName() == wanted->text())
            return {ErrorCode::Exists, oldName + " was not renamed: " + wanted->text() +
                                           " is already on the disk; nothing was changed"};
    DirectoryEntry renamed = entries[match].slot.entry;
    if (renamed.name() + "." + renamed.ext() == wanted->text())
        return change.commit();
    if (const ChainDamage damage = map.recordsDamage(match))
        return {ErrorCode::Damaged,
                oldName + " was not renamed: " + damage.text + "; nothing was changed"};
    renamed.setName(wanted->name, wanted->ext);
    if (status = image.writeEntry(entries[match].slot.offset, renamed); !status.ok())
        return status;
    return change.commit();
}

} // namespace dw
