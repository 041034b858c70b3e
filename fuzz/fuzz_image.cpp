// Arbitrary bytes as a disk image, held in memory: list it, check it, make both copies of every
// entry, then delete every entry on a copy and import a small file onto it. Nothing may crash or
// hang, the image's length never changes, a refused deletion or import changes no byte, and
// deleting from or importing into a clean image leaves it clean. Whatever layout the length
// tells (a shorter track 0, a header) is exercised the same way. Nothing touches the disk, and
// the check runs once for a damaged image: thousands of inputs a second.

#include "engine/Check.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/HostNames.h"
#include "engine/Import.h"
#include "engine/RowFields.h"
#include "engine/Texts.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using dwfuzz::require;

// Counts what a copy writes and throws it away.
class CountingBuffer : public std::streambuf {
public:
    std::size_t count = 0;

protected:
    int_type overflow(int_type c) override {
        ++count;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        count += static_cast<std::size_t>(n);
        return n;
    }
};

void copyEveryEntry(dw::DiskImage& image, const std::vector<dw::DirectoryEntry>& entries) {
    int round = 0;
    for (const dw::DirectoryEntry& entry : entries) {
        const std::string name = dw::hostFileName(entry.name(), entry.ext());
        require(name.find('/') == std::string::npos && name.find('\0') == std::string::npos &&
                    name != "." && name != "..",
                "a host name leaves its folder");
        // The window's road: fields read back from the row texts.
        const dw::EntryFields fields = dw::parseRowFields(dw::rowTexts(entry));
        require(fields.startLink == entry.startLink && fields.sectorCount == entry.sectorCount,
                "row texts do not read back");
        for (dw::CopyVariant variant : {dw::CopyVariant::Export, dw::CopyVariant::View}) {
            dw::ExtractOptions options;
            options.variant = variant;
            options.expandTabs = (round & 1) == 0;
            const dw::Newline newlines[] = {dw::Newline::CrLf, dw::Newline::Cr, dw::Newline::Lf};
            options.newline = newlines[(round >> 1) % 3];
            CountingBuffer buffer;
            std::ostream out(&buffer);
            dw::ExtractResult result = dw::ExtractFile(image, fields.startLink, fields.sectorCount,
                                                       fields.randomFlag, options, out);
            require(result.status.ok(), "a copy failed on a readable image");
            ++round;
        }
    }
}

// A small file imported onto the copy: the length never changes, a refused import changes no
// byte, and importing into a clean image leaves it clean.
void importSmallFile(dw::DiskImage& image, const std::vector<std::uint8_t>& bytes, bool clean,
                     const std::uint8_t* data, std::size_t dataSize) {
    const std::string& path = dwfuzz::memoryHost().hold(data, dataSize < 600 ? dataSize : 600);
    const std::vector<std::uint8_t> before = bytes;
    dw::ImportOptions options;
    dwfuzz::NoToEverything questions;
    const dw::ImportResult result = dw::importFile(image, path, options, questions, "FUZZ.IMP");
    require(bytes.size() == before.size(), "an import changed the image's length");
    if (!result.committed)
        require(bytes == before, "a refused import changed the image");
    else if (clean)
        require(dw::checkImage(image).clean(), "an import left a clean image unsound");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);

    std::vector<dw::DirectoryEntry> entries;
    bool clean = false;
    {
        auto image = dw::DiskImage::inMemory(bytes, true);
        dw::Listing listing;
        dw::Status listed = dw::readListing(*image, listing);
        if (listed.code() == dw::ErrorCode::BadImage)
            return 0;
        entries = listing.entries;
        clean = dw::checkImage(*image).clean();
        copyEveryEntry(*image, entries);
    }

    // The same bytes, now writable: the check above holds for them.
    auto image = dw::DiskImage::inMemory(bytes, false);
    for (const dw::DirectoryEntry& entry : entries) {
        const std::vector<std::uint8_t> before = bytes;
        dw::Status status = dw::deleteFile(*image, entry.name(), entry.ext());
        require(bytes.size() == size, "the image's length changed");
        if (!status.ok())
            require(bytes == before, "a refused deletion changed the image");
        else if (clean)
            require(dw::checkImage(*image).clean(), "a deletion left a clean image unsound");
        require(status.ok() || !clean || status.code() == dw::ErrorCode::NotFound,
                "a deletion refused a file of a clean image");
    }
    importSmallFile(*image, bytes, clean, data, size);
    return 0;
}
