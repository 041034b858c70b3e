#pragma once

// FLEX file names: 1 to 8 bytes of name and 1 to 3 of extension, written "NAME.EXT". The rules
// by which host names and typed answers become FLEX names, shared by every front end.

#include <optional>
#include <string>

namespace dw {

struct FlexName {
    std::string name; // 1 to 8 bytes
    std::string ext;  // 1 to 3 bytes

    // "NAME.EXT"; an empty extension leaves the dot ("LIST.").
    std::string text() const { return name + "." + ext; }
};

// A host path's final component split at its last dot; the extension is empty without one.
FlexName splitHostName(const std::string& hostPath);
// The text of the name question split as FLEX names are: leading dots ignored, the name up to
// the next dot, the extension everything after that dot.
FlexName splitAnswer(const std::string& text);
// 1 to 8 and 1 to 3 bytes, each printable ASCII (a control byte or one with bit 7 set would
// make the entry read as the directory's end or as deleted).
bool acceptable(const FlexName& name);
// What an entry can hold, as other tools wrote names: 1 to 8 bytes of name and 0 to 3 of
// extension, each printable ASCII, letter case as it is.
bool storable(const FlexName& name);
// A whole name as typed for a file ("NAME.EXT", one dot; the extension may not be empty), in
// upper case; nullopt unless `acceptable`.
std::optional<FlexName> typedFlexName(const std::string& text);
// "%.8s.%.3s", the preset of the name question.
std::string namePreset(const FlexName& name);
// a-z become A-Z; other bytes stay.
std::string upperCased(const std::string& text);

} // namespace dw
