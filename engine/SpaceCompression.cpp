#include "engine/SpaceCompression.h"

#include <algorithm>

namespace dw {

namespace {

std::vector<std::uint8_t> lineEndsStripped(std::span<const std::uint8_t> source) {
    std::vector<std::uint8_t> text;
    text.reserve(source.size());
    std::uint8_t previous = 0;
    for (std::uint8_t byte : source) {
        if (byte != 0x0A)
            text.push_back(byte);
        else if (previous != 0x0D)
            text.push_back(0x0D);
        previous = byte;
    }
    return text;
}

} // namespace

std::vector<std::uint8_t> compressedText(std::span<const std::uint8_t> source,
                                         bool stripLineFeeds) {
    // Compression comes after the line-feed rule: a count of 10 or 13 must not be taken for a
    // line end.
    const std::vector<std::uint8_t> stripped =
        stripLineFeeds ? lineEndsStripped(source) : std::vector<std::uint8_t>();
    const std::span<const std::uint8_t> text = stripLineFeeds ? stripped : source;
    std::vector<std::uint8_t> out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t run = 0;
        while (pos + run < text.size() && text[pos + run] == ' ')
            ++run;
        if (run == 0) {
            out.push_back(text[pos++]);
            continue;
        }
        pos += run;
        while (run >= 3) {
            const std::size_t count = std::min<std::size_t>(run, 255);
            out.push_back(SpaceMarker);
            out.push_back(static_cast<std::uint8_t>(count));
            run -= count;
        }
        out.insert(out.end(), run, ' ');
    }
    return out;
}

} // namespace dw
