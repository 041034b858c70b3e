#include "engine/Rename.h"

#include "engine/Directory.h"
#include "engine/FlexName.h"

#include <algorithm>
#include <optional>

namespace dw {

namespace {

std::string fileText(const DirectoryEntry& entry) {
    return entry.name() + "." + entry.ext();
}

template <std::size_t N>
void putField(std::array<std::uint8_t, N>& field, const std::string& text) {
    field.fill(0);
    std::copy(text.begin(), text.end(), field.begin());
}

} // namespace

Status renameFile(DiskImage& image, const std::string& oldName, const std::string& newName) {
    if (image.readOnly())
        return {ErrorCode::ReadOnly, "The disk image is open read-only; nothing was changed"};
    // One dot parts name and extension; neither may hold another.
    const std::size_t dot = newName.find('.');
    const FlexName typed = dot == std::string::npos
                               ? FlexName{newName, ""}
                               : FlexName{newName.substr(0, dot), newName.substr(dot + 1)};
    if (!acceptable(typed) || typed.ext.find('.') != std::string::npos)
        return {ErrorCode::InvalidName,
                oldName + " was not renamed: \"" + newName +
                    "\" is not a FLEX file name (NAME.EXT: 1 to 8 and 1 to 3 printable "
                    "characters); nothing was changed"};
    const FlexName wanted{upperCased(typed.name), upperCased(typed.ext)};

    ImageChange change(image);
    if (!change.status().ok())
        return change.status();
    SystemInformationRecord sir;
    if (Status status = image.readSirForChange(sir); !status.ok())
        return status;

    // The whole directory is seen before anything is written: a name beyond damage could clash.
    std::optional<DirectorySlot> exact;
    std::optional<DirectorySlot> folded;
    std::vector<std::uint32_t> holders; // slots of live entries already named `wanted`
    const Status walk = walkDirectory(image, [&](const DirectorySlot& slot) {
        if (!slot.entry.isLive())
            return SlotAction::Continue;
        const std::string text = fileText(slot.entry);
        if (!exact && text == oldName)
            exact = slot;
        if (!folded && upperCased(text) == upperCased(oldName))
            folded = slot;
        if (text == wanted.text())
            holders.push_back(slot.offset);
        return SlotAction::Continue;
    });
    if (!walk.ok())
        return {walk.code(),
                oldName + " was not renamed: " + walk.text() + "; nothing was changed"};
    const std::optional<DirectorySlot>& match = exact ? exact : folded;
    if (!match)
        return {ErrorCode::NotFound, oldName + " is not on the disk"};
    for (std::uint32_t holder : holders)
        if (holder != match->offset)
            return {ErrorCode::Exists, oldName + " was not renamed: " + wanted.text() +
                                           " is already on the disk; nothing was changed"};
    if (fileText(match->entry) == wanted.text())
        return change.commit();

    DirectoryEntry renamed = match->entry;
    putField(renamed.fileName, wanted.name);
    putField(renamed.extension, wanted.ext);
    if (Status status = image.writeEntry(match->offset, renamed); !status.ok())
        return status;
    return change.commit();
}

} // namespace dw
