#pragma once

// The images of an archive: the paths a user names, folders walked recursively, and working
// through the images several at a time with each result handed on in walk order.

#include "engine/DiskImage.h"
#include "engine/Status.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace dw {

// How the walk came to a file.
enum class FoundBy {
    Name,    // named as it is (a file, or a path that is not there): the command decides
    Suffix,  // a *.dsk file in a folder
    Content, // any other file in a folder: an image only when its content says so
};

struct FoundFile {
    std::string path;
    FoundBy by = FoundBy::Name;
    // BadImage for what the walk passes over (not a regular file, a link to a folder);
    // OpenFailed, with the system's reason, for a folder that cannot be read.
    Status status;
};

// The paths in the order given; a folder (a named link to one too) recursively, its entries in
// name order, each subfolder where its name falls. Links to folders inside a folder are not
// followed, so the walk always ends. The names of the folders being walked are held, one
// folder for each level.
class ImageWalk {
public:
    explicit ImageWalk(std::vector<std::string> paths) : paths_(std::move(paths)) {}

    // The next file; false once every path is walked.
    bool next(FoundFile& file);

private:
    enum class Kind : std::uint8_t { File, Folder, LinkToFolder, NotRegular };
    struct Entry {
        std::string name;
        Kind kind;
    };
    struct Folder {
        std::filesystem::path path;
        std::vector<Entry> entries; // by name
        std::size_t next = 0;
    };
    // Starts walking a folder; false, with `file` saying why, when it cannot be read.
    bool enter(const std::filesystem::path& path, FoundFile& file);

    std::vector<std::string> paths_;
    std::size_t nextPath_ = 0;
    std::vector<Folder> folders_; // innermost last
};

// Whether an image that is not named as one is a FLEX image by its content: beyond what readSir
// asks, six or more sectors per track, and a first directory sector that links to track 0
// sector 6 and leaves the rest of its header zero, as every FLEX diskette's does (the same rule
// as the file type's magic). BadImage with the fact when it is not.
Status recognizeByContent(DiskImage& image, const SystemInformationRecord& sir);

// Whether a file the walk found is an image to work on. BadImage, with the deciding fact, for
// one found in a folder that is not a FLEX image (readSir's rule for *.dsk, recognizeByContent
// for any other file), for one gone since its folder was read, and for what the walk passes
// over; the walk's own failure as it came.
// Anything else is ok: the command opens the file and says what it meets.
Status examineFound(const FoundFile& file);

// What to do with one file's result; false stops the walk (the output cannot be written).
using Delivery = std::function<bool()>;

// Runs `work` on every file of the walk, `jobs` at a time (the calling thread one of them), and
// calls what each returns in walk order, one at a time, whatever finishes first: the worker
// whose result is next in turn calls it, and any that follow and are ready. At most 4 x jobs
// results wait for their turn, so memory stays flat however many files there are. An exception
// from `work` or a delivery comes out of this call, in its turn.
void workInOrder(ImageWalk& walk, unsigned jobs,
                 const std::function<Delivery(const FoundFile&)>& work);

} // namespace dw
