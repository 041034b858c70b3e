#pragma once

// Host file names made from FLEX names, the temporary folder of view copies, and writing a
// host file so that a failure never leaves a half-written file under the user's name.

#include "engine/Status.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace dw {

// The default host name "%s.%s" of a FLEX name and extension, made safe to use as one file
// name inside a folder: "/", "\", NUL and other control bytes (below 0x20, and 0x7F) become
// "_", and a result of "." or ".." gets a "_" in front. Any other byte is kept.
std::string hostFileName(const std::string& name, const std::string& ext);

// The folder for view copies: the TEMP environment variable when it is set and not empty,
// else `tempDirSetting` when not empty, else the system's temporary folder.
std::filesystem::path temporaryFolder(const std::string& tempDirSetting);

// Writes a host file whole: `produce` writes into a new temporary file in the destination's
// folder, which is renamed onto the destination once it is complete and flushed. When
// `produce` or a write fails, the temporary file is removed and the destination is left as it
// was. An existing file is replaced only with `replaceExisting` (else Exists). A destination
// that exists and is not a regular file (a device such as /dev/stdout or a pipe) is written
// directly, with or without `replaceExisting`. The temporary file cannot be created: OpenFailed
// with "Unable to open target file".
Status writeHostFile(const std::filesystem::path& destination, bool replaceExisting,
                     const std::function<Status(std::ostream&)>& produce);

} // namespace dw
