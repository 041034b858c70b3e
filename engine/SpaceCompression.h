#pragma once

// FLEX space compression for text stored on an image: a run of spaces is held as the marker
// 0x09 followed by a count byte. Export expands it; import applies it when asked.

#include <cstdint>
#include <span>
#include <vector>

namespace dw {

constexpr std::uint8_t SpaceMarker = 0x09;

// The text bytes a compressed text import stores: first the line-feed rule of the text copy
// when `stripLineFeeds` (a line feed after a carriage return is dropped, any other becomes a
// carriage return), then every run of 3 or more spaces becomes the marker and its count, at
// most 255 spaces per marker. Runs of 1 or 2 spaces stay as they are: a marker would save
// nothing.
std::vector<std::uint8_t> compressedText(std::span<const std::uint8_t> source, bool stripLineFeeds);

} // namespace dw
