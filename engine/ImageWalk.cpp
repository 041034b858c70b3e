#include "engine/ImageWalk.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace dw {

namespace fs = std::filesystem;

namespace {

Status passedOver(const std::string& why) {
    return {ErrorCode::BadImage, why};
}

Status notFlexByContent(const std::string& fact) {
    return {ErrorCode::BadImage, "Not a FLEX disk image: " + fact, fact};
}

bool namedAsImage(const fs::path& path) {
    std::string suffix = path.extension().string();
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return suffix == ".dsk";
}

} // namespace

bool ImageWalk::enter(const fs::path& path, FoundFile& file) {
    Folder folder;
    std::error_code error;
    for (fs::directory_iterator at(path, error), end; !error && at != end; at.increment(error))
        folder.entries.push_back(*at);
    if (error) {
        file = {path.string(),
                FoundBy::Name,
                {ErrorCode::OpenFailed,
                 "Unable to read the folder " + path.string(),
                 {},
                 error.value()}};
        return false;
    }
    std::sort(folder.entries.begin(), folder.entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().string() < b.path().filename().string();
    });
    folders_.push_back(std::move(folder));
    return true;
}

bool ImageWalk::next(FoundFile& file) {
    for (;;) {
        if (folders_.empty()) {
            if (nextPath_ == paths_.size())
                return false;
            const std::string& path = paths_[nextPath_++];
            std::error_code error;
            if (!fs::is_directory(path, error)) {
                file = {path, FoundBy::Name, {}};
                return true;
            }
            if (!enter(path, file))
                return true;
            continue;
        }
        Folder& folder = folders_.back();
        if (folder.next == folder.entries.size()) {
            folders_.pop_back();
            continue;
        }
        const fs::directory_entry entry = folder.entries[folder.next++];
        std::error_code error;
        const bool link = entry.is_symlink(error);
        const fs::file_status target = entry.status(error);
        if (fs::is_directory(target) && !link) {
            if (!enter(entry.path(), file))
                return true;
            continue;
        }
        file = {entry.path().string(),
                namedAsImage(entry.path()) ? FoundBy::Suffix : FoundBy::Content};
        if (fs::is_directory(target))
            file.status = passedOver("a link to a folder, not followed");
        else if (fs::exists(target) && !fs::is_regular_file(target))
            file.status = passedOver("not a regular file");
        // A link that leads nowhere is tried as a file: opening it says what is wrong.
        return true;
    }
}

Status recognizeByContent(DiskImage& image, const SystemInformationRecord& sir) {
    if (sir.maxSector < 6)
        return notFlexByContent("the System Information Record gives " +
                                std::to_string(sir.maxSector) +
                                " sectors per track, too few to know a FLEX image by its content");
    const SectorLink first{0, 5};
    std::array<std::uint8_t, 16> header{};
    if (!image.contains(first))
        return notFlexByContent("the file is too short to hold its first directory sector");
    if (Status read = image.readAt(image.SectorOffset(first), header); !read.ok())
        return read;
    if (getLink(header.data()) != SectorLink{0, 6} ||
        std::any_of(header.begin() + 2, header.end(), [](std::uint8_t b) { return b != 0; }))
        return notFlexByContent("its first directory sector (track 0 sector 5) does not begin "
                                "as a FLEX directory does");
    return {};
}

Status examineFound(const FoundFile& file) {
    if (!file.status.ok() || file.by == FoundBy::Name)
        return file.status;
    std::unique_ptr<DiskImage> image;
    if (!DiskImage::openReadOnly(file.path, image).ok())
        return {};
    SystemInformationRecord sir;
    Status status = image->readSir(sir);
    if (status.ok() && file.by == FoundBy::Content)
        status = recognizeByContent(*image, sir);
    return status.code() == ErrorCode::BadImage ? status : Status{};
}

void workInOrder(ImageWalk& walk, unsigned jobs,
                 const std::function<Delivery(const FoundFile&)>& work) {
    FoundFile file;
    if (jobs <= 1) {
        while (walk.next(file))
            if (!work(file)())
                return;
        return;
    }
    const std::size_t window = 4 * std::size_t{jobs};
    std::mutex mutex;
    std::condition_variable changed;
    // Results from the next one to deliver on, by their place in the walk; empty while worked on.
    std::deque<std::optional<Delivery>> waiting;
    std::size_t delivered = 0;
    bool walkOver = false;
    bool stop = false;

    auto worker = [&] {
        for (;;) {
            FoundFile mine;
            std::size_t place = 0;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || walkOver || waiting.size() < window; });
                if (stop || walkOver)
                    return;
                if (!walk.next(mine)) {
                    walkOver = true;
                    changed.notify_all();
                    return;
                }
                place = delivered + waiting.size();
                waiting.emplace_back();
            }
            Delivery result;
            try {
                result = work(mine);
            } catch (...) {
                result = [failure = std::current_exception()]() -> bool {
                    std::rethrow_exception(failure);
                };
            }
            {
                std::lock_guard lock(mutex);
                waiting[place - delivered] = std::move(result);
            }
            changed.notify_all();
        }
    };
    std::vector<std::jthread> workers;
    // Whichever way this call ends, the workers stop before they are joined.
    struct Stopper {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~Stopper() {
            {
                std::lock_guard lock(mutex);
                stop = true;
            }
            changed.notify_all();
        }
    } stopper{mutex, changed, stop};
    for (unsigned i = 0; i < jobs; ++i)
        workers.emplace_back(worker);

    for (;;) {
        Delivery next;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] {
                return (!waiting.empty() && waiting.front()) || (walkOver && waiting.empty());
            });
            if (waiting.empty())
                return;
            next = std::move(*waiting.front());
            waiting.pop_front();
            ++delivered;
        }
        changed.notify_all();
        if (!next())
            return;
    }
}

} // namespace dw
