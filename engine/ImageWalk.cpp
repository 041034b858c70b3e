#include "engine/ImageWalk.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

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
    Folder folder{path, {}, 0};
    std::error_code error;
    for (fs::directory_iterator at(path, error), end; !error && at != end; at.increment(error)) {
        // The entry knows its type from the listing: the system is asked again only for links.
        std::error_code unknown;
        const bool link = at->is_symlink(unknown);
        Kind kind = Kind::File;
        if (at->is_directory(unknown))
            kind = link ? Kind::LinkToFolder : Kind::Folder;
        else if (at->exists(unknown) && !at->is_regular_file(unknown))
            kind = Kind::NotRegular;
        folder.entries.push_back({at->path().filename().string(), kind});
    }
    if (error) {
        file = {path.string(),
                FoundBy::Name,
                {ErrorCode::OpenFailed,
                 "Unable to read the folder " + path.string(),
                 {},
                 error.value()}};
        return false;
    }
    std::sort(folder.entries.begin(), folder.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
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
        const Entry& entry = folder.entries[folder.next++];
        const fs::path path = folder.path / entry.name;
        if (entry.kind == Kind::Folder) {
            if (!enter(path, file))
                return true;
            continue;
        }
        file = {path.string(), namedAsImage(path) ? FoundBy::Suffix : FoundBy::Content};
        if (entry.kind == Kind::LinkToFolder)
            file.status = passedOver("a link to a folder, not followed");
        else if (entry.kind == Kind::NotRegular)
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
    if (const Status opened = DiskImage::openReadOnly(file.path, image); !opened.ok()) {
        // Gone since its folder was read (a journal that its image's undoing removed, say);
        // a link to nothing is still there, and is the command's to report.
        std::error_code error;
        if (opened.systemError() == ENOENT && !fs::exists(fs::symlink_status(file.path, error)))
            return passedOver("gone since its folder was read");
        return {};
    }
    SystemInformationRecord sir;
    Status status = image->readSir(sir);
    if (status.ok() && file.by == FoundBy::Content)
        status = recognizeByContent(*image, sir);
    return status.code() == ErrorCode::BadImage ? status : Status{};
}

void workInOrder(ImageWalk& walk, unsigned jobs,
                 const std::function<Delivery(const FoundFile&)>& work) {
    const std::size_t window = 4 * std::size_t{std::max(jobs, 1u)};
    std::mutex mutex;
    std::condition_variable room; // a worker waits while the window is full
    // Results from the next one to deliver on, by their place in the walk; empty while worked on.
    std::deque<std::optional<Delivery>> waiting;
    std::size_t delivered = 0;
    bool walkOver = false;
    bool stop = false;
    bool delivering = false; // one worker at a time hands results on
    std::exception_ptr failure;
    auto fail = [&](std::exception_ptr what) {
        if (!failure)
            failure = std::move(what);
        stop = true;
        room.notify_all();
    };

    // Takes the next file, works on it, and when its result is the next in turn (and no other
    // worker is handing results on) hands on every result that is ready: no thread waits for
    // another unless the window is full.
    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            room.wait(lock, [&] { return stop || walkOver || waiting.size() < window; });
            if (stop || walkOver)
                return;
            FoundFile file;
            try {
                walkOver = !walk.next(file);
            } catch (...) {
                return fail(std::current_exception());
            }
            if (walkOver)
                return room.notify_all();
            const std::size_t place = delivered + waiting.size();
            waiting.emplace_back();
            lock.unlock();
            Delivery result;
            try {
                result = work(file);
            } catch (...) {
                result = [what = std::current_exception()]() -> bool {
                    std::rethrow_exception(what);
                };
            }
            lock.lock();
            waiting[place - delivered] = std::move(result);
            if (delivering)
                continue;
            delivering = true;
            while (!stop && !waiting.empty() && waiting.front()) {
                Delivery next = std::move(*waiting.front());
                waiting.pop_front();
                ++delivered;
                room.notify_one();
                lock.unlock();
                bool goOn = false;
                std::exception_ptr thrown;
                try {
                    goOn = next();
                } catch (...) {
                    thrown = std::current_exception();
                }
                lock.lock();
                if (thrown)
                    fail(thrown);
                else if (!goOn)
                    fail(nullptr);
            }
            delivering = false;
        }
    };
    std::vector<std::thread> others;
    for (unsigned i = 1; i < jobs; ++i) {
        try {
            others.emplace_back(worker);
        } catch (const std::system_error&) {
            break; // no more threads to be had: the ones there are do the work
        }
    }
    worker();
    for (std::thread& other : others)
        other.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace dw
