#include "engine/HostNames.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

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
        result.insert(0, "_");
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

namespace {

std::string pathText(const fs::path& path) {
    return path.string();
}

Status writeFailed(const fs::path& destination) {
    return {ErrorCode::WriteFailed,
            "Unable to write the target file " + pathText(destination) + "; it was left as it was"};
}

// A devices or pipe cannot be replaced by a rename: write it in place.
Status writeDirectly(const fs::path& destination,
                     const std::function<Status(std::ostream&)>& produce) {
    std::ofstream out(destination, std::ios::binary);
    if (!out)
        return {ErrorCode::OpenFailed, "Unable to open target file"};
    Status status = produce(out);
    out.close();
    if (!status.ok())
        return status;
    if (out.fail())
        return {ErrorCode::WriteFailed, "Unable to write the target file " + pathText(destination)};
    return {};
}

// Creates a new, empty file next to `destination` that no one else has; false when none can be.
bool createTemporarySibling(const fs::path& destination, fs::path& temporary) {
    static std::mt19937_64 generator{std::random_device{}()};
    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    const std::string base = "." + destination.filename().string() + ".dw-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "%08llx",
                      static_cast<unsigned long long>(generator() & 0xFFFFFFFFULL));
        fs::path candidate = folder / (base + suffix);
        // "x": fails when the name exists, so an existing file is never truncated.
        std::FILE* file = std::fopen(candidate.string().c_str(), "wbx");
        if (file) {
            std::fclose(file);
            temporary = candidate;
            return true;
        }
        std::error_code ec;
        if (!fs::exists(candidate, ec))
            return false; // not a name clash: the folder cannot be written
    }
    return false;
}

} // namespace

Status writeHostFile(const fs::path& requested, bool replaceExisting,
                     const std::function<Status(std::ostream&)>& produce) {
    std::error_code ec;
    fs::path destination = requested;
    // Replace what a symbolic link points to, not the link.
    if (fs::is_symlink(fs::symlink_status(requested, ec))) {
        fs::path target = fs::canonical(requested, ec);
        if (!ec)
            destination = target;
    }
    const fs::file_status status = fs::status(destination, ec);
    const bool exists = fs::exists(status);
    if (exists && fs::is_directory(status))
        return {ErrorCode::OpenFailed, "Unable to open target file"};
    if (exists && !fs::is_regular_file(status))
        return writeDirectly(destination, produce); // nothing there to keep or replace
    if (exists && !replaceExisting)
        return {ErrorCode::Exists, pathText(requested) + " already exists; it was not overwritten"};

    fs::path temporary;
    if (!createTemporarySibling(destination, temporary))
        return {ErrorCode::OpenFailed, "Unable to open target file"};
    auto discard = [&temporary] {
        std::error_code ignored;
        fs::remove(temporary, ignored);
    };

    // A buffer of our own: the stream's default would cost a system call every few sectors.
    std::vector<char> buffer(256 * 1024);
    std::ofstream out;
    out.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    out.open(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
        discard();
        return {ErrorCode::OpenFailed, "Unable to open target file"};
    }
    Status produced = produce(out);
    out.close();
    if (!produced.ok()) {
        discard();
        return produced;
    }
    if (out.fail()) {
        discard();
        return writeFailed(requested);
    }
    if (!replaceExisting && fs::exists(destination, ec)) {
        discard();
        return {ErrorCode::Exists, pathText(requested) + " already exists; it was not overwritten"};
    }
    fs::rename(temporary, destination, ec);
    if (ec) {
        discard();
        return writeFailed(requested);
    }
    return {};
}

} // namespace dw
