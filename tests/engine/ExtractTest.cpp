#include "engine/Extract.h"
#include "engine/HostNames.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A file of the given sectors' data (each padded to 252 bytes with NULs), chained from 1/1.
ImageBuilder fileImage(const std::vector<Bytes>& sectors) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    std::vector<Link> links;
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        Link l{1, static_cast<int>(i) + 1};
        links.push_back(l);
        b.setData(l, Bytes(252, 0));
        b.setData(l, sectors[i]);
    }
    b.chain(links);
    return b;
}

struct Copy {
    dw::ExtractResult result;
    std::string out;
};

Copy extract(ImageBuilder& b, int count, const dw::ExtractOptions& options, bool random = false,
             Link start = {1, 1}) {
    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = dw::DiskImage::open(b.save(tempPath("extract.dsk")), image);
    EXPECT_TRUE(status.ok()) << status.text();
    std::ostringstream out;
    Copy c;
    c.result = dw::ExtractFile(
        *image, {static_cast<std::uint8_t>(start.track), static_cast<std::uint8_t>(start.sector)},
        static_cast<std::uint16_t>(count), random, options, out);
    c.out = out.str();
    EXPECT_TRUE(c.result.status.ok()) << c.result.status.text();
    return c;
}

dw::ExtractOptions opts(bool expand, bool addLf, dw::CopyVariant v = dw::CopyVariant::Export) {
    dw::ExtractOptions o;
    o.expandTabs = expand;
    o.newline = addLf ? dw::Newline::CrLf : dw::Newline::Cr;
    o.variant = v;
    return o;
}

std::string text(const Bytes& b) {
    return {b.begin(), b.end()};
}
std::string nuls(std::size_t n) {
    return std::string(n, '\0');
}
const auto View = dw::CopyVariant::View;

} // namespace

TEST(Extract, TextRulesOnOneSectorWithEachSwitch) {
    ImageBuilder b = fileImage({{0x41, 0x42, 0x09, 0x03, 0x43, 0x0D}});
    Copy both = extract(b, 1, opts(true, true));
    EXPECT_EQ(both.result.mode, dw::TransferMode::Text);
    EXPECT_EQ(both.out, "AB   C\r\n" + nuls(246));
    EXPECT_EQ(extract(b, 1, opts(false, true)).out, "AB\x09\x03"
                                                    "C\r\n" +
                                                        nuls(246));
    Copy none = extract(b, 1, opts(false, false));
    EXPECT_EQ(none.out, "AB\x09\x03"
                        "C\r" +
                            nuls(246));
    // The view copy drops the NUL padding.
    EXPECT_EQ(extract(b, 1, opts(true, true, View)).out, "AB   C\r\n");
    // Line feeds alone: a CR becomes LF; the NULs at the end of the file go, others stay.
    dw::ExtractOptions lf = opts(true, true);
    lf.newline = dw::Newline::Lf;
    EXPECT_EQ(extract(b, 1, lf).out, "AB   C\n");
    ImageBuilder inner = fileImage({{'A', 0, 0x0D}, {}});
    EXPECT_EQ(extract(inner, 2, lf).out, std::string("A\0\n", 3));
    EXPECT_FALSE(both.result.chainEndedEarly);
}

TEST(Extract, MarkerInLastByteTakesItsCountFromTheNextSector) {
    Bytes first(252, 'x');
    first[251] = 0x09;
    ImageBuilder b = fileImage({first, {0x05, 'y'}});
    const std::string head(251, 'x');
    EXPECT_EQ(extract(b, 2, opts(true, false, View)).out, head + "     y");
    EXPECT_EQ(extract(b, 2, opts(true, false)).out, head + "     y" + nuls(250));
    // Expand-tabs off: marker and count are written, and a count of CR gets no line feed.
    ImageBuilder cr = fileImage({first, {0x0D, 0x0D}});
    EXPECT_EQ(extract(cr, 2, opts(false, true, View)).out, head + "\x09\r\r\n");
}

TEST(Extract, SpaceCountsReadUnsignedForExportAndSignedForView) {
    struct Case {
        std::uint8_t count;
        std::size_t exported;
        std::size_t viewed;
    };
    for (Case c : {Case{0, 0, 0}, Case{127, 127, 127}, Case{200, 200, 0}, Case{0x85, 133, 0},
                   Case{255, 255, 0}}) {
        ImageBuilder b = fileImage({{'A', 0x09, c.count, 'B'}});
        EXPECT_EQ(extract(b, 1, opts(true, true)).out,
                  "A" + std::string(c.exported, ' ') + "B" + nuls(248))
            << int(c.count);
        EXPECT_EQ(extract(b, 1, opts(true, true, View)).out, "A" + std::string(c.viewed, ' ') + "B")
            << int(c.count);
    }
}

TEST(Extract, ExpandTabsOffWritesCountsUnchanged) {
    // The first CR is a count: no line feed after it. A NUL count stays in the view copy too.
    ImageBuilder b = fileImage({{0x09, 0x0D, 0x0D, 0x09, 0x00, 'A'}});
    EXPECT_EQ(extract(b, 1, opts(false, true)).out,
              text({0x09, 0x0D, 0x0D, 0x0A, 0x09, 0x00, 'A'}) + nuls(246));
    EXPECT_EQ(extract(b, 1, opts(false, true, View)).out,
              text({0x09, 0x0D, 0x0D, 0x0A, 0x09, 0x00, 'A'}));
    // A marker where a count is due starts a new count.
    ImageBuilder twice = fileImage({{0x09, 0x09, 0x0D, 'A'}});
    EXPECT_EQ(extract(twice, 1, opts(false, true, View)).out, text({0x09, 0x09, 0x0D, 'A'}));
}

TEST(Extract, ModeFromRandomFlagAndFirstDataByte) {
    struct Case {
        std::uint8_t first;
        dw::TransferMode exported;
        dw::TransferMode viewed;
    };
    const auto T = dw::TransferMode::Text, B = dw::TransferMode::Binary;
    for (Case c : {Case{0x09, T, T}, Case{0x0D, T, T}, Case{0x20, T, T}, Case{0x7F, T, T},
                   Case{0x80, T, B}, Case{0xA0, T, B}, Case{0xFF, T, B}, Case{0x00, B, B},
                   Case{0x02, B, B}, Case{0x0A, B, B}, Case{0x16, B, B}, Case{0x1F, B, B}}) {
        ImageBuilder b = fileImage({{c.first, 0x0D}});
        EXPECT_EQ(extract(b, 1, opts(true, true)).result.mode, c.exported) << int(c.first);
        EXPECT_EQ(extract(b, 1, opts(true, true, View)).result.mode, c.viewed) << int(c.first);
    }
    // Binary: all 252 bytes of each sector, no line feeds, no dropped NULs.
    ImageBuilder bin = fileImage({{0x02, 0x0D, 0x09, 0x05}, {0x0D}});
    Copy copy = extract(bin, 2, opts(true, true, View));
    EXPECT_EQ(copy.out, text({0x02, 0x0D, 0x09, 0x05}) + nuls(248) + "\r" + nuls(251));
    // The random flag wins over a text first byte.
    ImageBuilder rnd = fileImage({{'A', 0x0D}});
    Copy random = extract(rnd, 1, opts(true, true), true);
    EXPECT_EQ(random.result.mode, dw::TransferMode::Binary);
    EXPECT_EQ(random.out.size(), 252u);
    dw::ExtractOptions forced = opts(true, true);
    forced.forceMode = dw::TransferMode::Text;
    EXPECT_EQ(extract(bin, 1, forced).out.substr(0, 4), text({0x02, 0x0D, 0x0A, ' '}));
}

TEST(Extract, ChainShorterOrLongerThanItsCount) {
    ImageBuilder b = fileImage({{'A'}, {'B'}});
    Copy longer = extract(b, 3, opts(true, false, View));
    EXPECT_EQ(longer.out, "AB");
    EXPECT_TRUE(longer.result.chainEndedEarly);
    Copy shorter = extract(b, 1, opts(true, false, View));
    EXPECT_EQ(shorter.out, "A");
    EXPECT_FALSE(shorter.result.chainEndedEarly);
    // Empty file with start 0/0: an empty copy, no message.
    Copy empty = extract(b, 0, opts(true, true), false, {0, 0});
    EXPECT_EQ(empty.out, "");
    EXPECT_FALSE(empty.result.chainEndedEarly);
    // A count with start 0/0 never reads through it.
    Copy null = extract(b, 2, opts(true, true), false, {0, 0});
    EXPECT_EQ(null.out, "");
    EXPECT_TRUE(null.result.chainEndedEarly);
}

TEST(Extract, BadLinksEndTheCopyAndKeepWhatWasCopied) {
    // Sector 11 does not exist with 10 sectors per track; track 9 lies past the end of the file.
    for (Link bad : {Link{1, 11}, Link{9, 1}, Link{1, 0}}) {
        ImageBuilder b = fileImage({{'A'}, {'B'}});
        b.setLink({1, 2}, bad);
        Copy c = extract(b, 3, opts(true, false, View));
        EXPECT_EQ(c.out, "AB");
        EXPECT_TRUE(c.result.chainEndedEarly);
    }
    // A loop is copied once, not until the count runs out.
    ImageBuilder loop = fileImage({{'A'}, {'B'}});
    loop.setLink({1, 2}, {1, 1});
    Copy c = extract(loop, 60000, opts(true, false, View));
    EXPECT_EQ(c.out, "AB");
    EXPECT_TRUE(c.result.chainEndedEarly);
}

namespace {
struct FailingBuffer : std::streambuf {
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};
} // namespace

TEST(Extract, FailedHostWriteIsAnError) {
    ImageBuilder b = fileImage({{'A'}});
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(b.save(tempPath("fail.dsk")), image).ok());
    FailingBuffer buffer;
    std::ostream out(&buffer);
    dw::ExtractResult r = dw::ExtractFile(*image, {1, 1}, 1, false, opts(true, true), out);
    EXPECT_EQ(r.status.code(), dw::ErrorCode::WriteFailed);
}
