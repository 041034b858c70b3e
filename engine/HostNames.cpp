#include "engine/HostNames.h"

#include <cstdlib>

namespace dw {

namespace fs = std::filesystem;

std::string hostFileName(const std::string& name, const std::string& ext) {
    std::string result = name + "." + ext;
    for (char& c : result) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\')
            c = '_';
    }
    if (result == "." || result == "..")
        result = "_" + result;
    return result;
}

fs::path temporaryFolder(const std::string& tempDirSetting) {
    const char* temp = std::getenv("TEMP");
    if (temp && *temp)
        return fs::path(temp);
    if (!tempDirSetting.empty())
        return fs::path(tempDirSetting);
    std::error_code ec;
    fs::path system = fs::temp_directory_path(ec);
    return ec ? fs::path(".") : system;
}

} // namespace dw
