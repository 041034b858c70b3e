#include "cli/Commands.h"

#include "engine/Chain.h"
#include "engine/Directory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace dwcli {

// Control bytes (a name from an image inside an engine message) shown as \xNN; line breaks of
// the program's texts kept as plain line breaks. Other bytes stay, so UTF-8 paths read as typed.
std::string safeText(const std::string& text) {
    std::string result;
    for (char c : terminalText(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n') || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            result += escaped;
        } else {
            result += c;
        }
    }
    return result;
}

void CliContext::error(const std::string& subject, const std::string& what, int errnoValue) {
    std::string text = safeText(subject.empty() ? what : subject + ": " + what);
    if (errnoValue != 0)
        text += std::string(": ") + std::strerror(errnoValue);
    io.err << ProgramName << ": " << text << '\n';
    if (document)
        (*document)["errors"].push_back(text);
    exitCode = ExitFailure;
}

void CliContext::warn(const std::string& subject, const std::string& what) {
    const std::string text = safeText(subject + ": warning: " + what);
    io.err << ProgramName << ": " << text << '\n';
    if (document)
        (*document)["warnings"].push_back(text);
}

void CliContext::report(const std::string& text) {
    if (!quiet)
        io.err << terminalText(text) << '\n';
}

void CliContext::detail(const std::string& text) {
    if (verbose)
        io.err << terminalText(text) << '\n';
}

bool CliContext::checkOutput(int failedWith) {
    if (outputFailed)
        return false;
    int reason = failedWith;
    if (io.out) {
        errno = 0;
        io.out.flush();
        reason = errno;
    }
    if (io.out)
        return true;
    outputFailed = true;
    error("standard output", "the output could not be written", reason);
    return false;
}

std::unique_ptr<dw::DiskImage> openImage(CliContext& context, const std::string& path,
                                         bool forChange) {
    std::unique_ptr<dw::DiskImage> image;
    // Reading commands too open for writing where they can: an interrupted change is then
    // undone in the file itself, which other programs read.
    dw::Status status = dw::DiskImage::open(path, image);
    if (!status.ok()) {
        if (status.code() == dw::ErrorCode::OpenFailed)
            context.error(path, "cannot open", status.systemError());
        else
            context.error(path, status.fact().empty() ? status.text() : status.fact());
        return nullptr;
    }
    if (forChange && image->readOnly()) {
        context.error(path, "cannot be written; nothing was changed", image->readOnlyReason());
        return nullptr;
    }
    // From the first read of the SIR on, no other program changes the image under the command.
    status = forChange ? image->beginChange() : image->beginRead();
    if (std::string notice = image->takeNotice(); !notice.empty())
        context.io.message(notice);
    if (!status.ok()) {
        context.error(status.code() == dw::ErrorCode::Busy ? "" : path, status.text());
        return nullptr;
    }
    dw::SystemInformationRecord sir;
    status = image->readSir(sir);
    if (status.code() == dw::ErrorCode::BadImage && !status.fact().empty()) {
        context.error(path, "not a FLEX disk image: " + status.fact());
        return nullptr;
    }
    if (status.ok() && forChange)
        status = image->requireKnownLayout();
    if (!status.ok()) {
        context.error(path, status.text());
        return nullptr;
    }
    return image;
}

std::unique_ptr<dw::DiskImage> openListed(CliContext& context, const std::string& path,
                                          dw::Listing& listing, bool forChange) {
    std::unique_ptr<dw::DiskImage> image = openImage(context, path, forChange);
    if (!image)
        return nullptr;
    const dw::Status status = dw::readListing(*image, listing);
    if (!status.ok())
        context.error(path, status.text());
    if (!status.ok() && status.code() != dw::ErrorCode::Damaged)
        return nullptr;
    return image;
}

bool commitImage(CliContext& context, const std::string& path, dw::DiskImage& image) {
    const dw::Status status = image.commitChange();
    if (!status.ok())
        context.error(path, status.text());
    return status.ok();
}

std::string sectorRuns(const std::vector<dw::SectorLink>& sectors) {
    std::string text;
    for (std::size_t i = 0; i < sectors.size();) {
        std::size_t j = i;
        while (j + 1 < sectors.size() && sectors[j + 1].track == sectors[j].track &&
               sectors[j + 1].sector == sectors[j].sector + 1)
            ++j;
        text += (text.empty() ? "" : " ") + dw::linkText(sectors[i]);
        if (j > i)
            text += ".." + dw::linkText(sectors[j]);
        i = j + 1;
    }
    return text.empty() ? "none" : text;
}

std::vector<dw::SectorLink> chainSectors(dw::DiskImage& image, dw::SectorLink start,
                                         std::size_t count) {
    dw::SystemInformationRecord sir;
    if (count == 0 || !image.readSir(sir).ok())
        return {};
    return dw::walkChain(image, start, count).sectors;
}

} // namespace dwcli
