#pragma once

// Host file names made from FLEX names, and the temporary folder of view copies. Host files
// themselves are written by writeHostFile (engine/HostFile.h).

#include <filesystem>
#include <string>

namespace dw {

// The default host name "%s.%s" of a FLEX name and extension, made safe to use as one file
// name inside a folder: "/", "\", NUL and other control bytes (below 0x20, and 0x7F) become
// "_", and a result of "." or ".." gets a "_" in front. Any other byte is kept.
std::string hostFileName(const std::string& name, const std::string& ext);

// The folder for view copies: the TEMP environment variable when it is set and not empty,
// else `tempDirSetting` when not empty, else the system's temporary folder.
std::filesystem::path temporaryFolder(const std::string& tempDirSetting);

} // namespace dw
