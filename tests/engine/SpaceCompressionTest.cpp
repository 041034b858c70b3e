#include "engine/SpaceCompression.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string compressed(const std::string& text, bool stripLineFeeds) {
    const std::vector<std::uint8_t> out =
        dw::compressedText(std::vector<std::uint8_t>(text.begin(), text.end()), stripLineFeeds);
    return {out.begin(), out.end()};
}

} // namespace

TEST(SpaceCompression, RunsOfThreeOrMoreBecomeAMarkerAndACount) {
    struct Case {
        std::string text;
        bool strip;
        std::string stored;
    };
    const Case cases[] = {
        {"a b  c", true, "a b  c"},                      // 1 or 2 spaces stay
        {"a   b", true, std::string("a\x09\x03") + "b"}, // 3 is the shortest run
        {std::string(255, ' '), false, "\x09\xff"},
        {std::string(257, ' '), false, "\x09\xff  "}, // at most 255 a marker
        {std::string(258, ' '), false, "\x09\xff\x09\x03"},
        // The line-feed rule goes first: counts of 13 and 10 are not line ends.
        {std::string(13, ' ') + "\n" + std::string(10, ' ') + "\r\n", true,
         "\x09\x0d\x0d\x09\x0a\x0d"},
        {"x\r\n", false, "x\r\n"},
        {"", true, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compressed(c.text, c.strip), c.stored) << c.text.size();
}
