#pragma once

// Renaming a file: only its directory entry changes, in place, and only where the directory
// sector that holds it is the directory's alone.

#include "engine/DiskImage.h"

#include <string>

namespace dw {

// Gives the file `oldName` ("NAME.EXT": the first live entry of exactly that text, else the
// first that differs only in letter case) the name `newName` ("NAME.EXT", one dot), written in
// upper case; the extension may change. Refused, with the image unchanged: a
// read-only image (ReadOnly), no such file (NotFound), a new name outside the FLEX rules
// (InvalidName), one another file holds (Exists), a directory that cannot be walked to its end
// or a directory sector another chain holds too (Damaged). The rename is one change of the image.
Status renameFile(DiskImage& image, const std::string& oldName, const std::string& newName);

} // namespace dw
