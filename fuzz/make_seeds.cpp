// Writes the fuzzer's seed images into a folder: small sound images with text, binary, random
// and empty files, in each layout, and a few with typical damage.

#include "tests/support/ImageBuilder.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes textFile(std::size_t lines) {
    Bytes b;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::string words = "LINE\x09\x05X";
        b.insert(b.end(), words.begin(), words.end());
        b.push_back(static_cast<std::uint8_t>(i % 2 ? 0x09 : 0x0D));
        b.push_back(static_cast<std::uint8_t>(i % 256));
        b.push_back(0x0D);
    }
    return b;
}

ImageBuilder withFiles(int tracks, int spt, const Layout& layout = {}) {
    ImageBuilder b = ImageBuilder::formatted(tracks, spt, "FUZZ", layout);
    b.addFile("README", "TXT", textFile(40));
    b.addFile("GAME", "BIN", Bytes(600, 0x02), true);
    b.addFile("HIGH", "TXT", Bytes(300, 0xA0));
    b.addFile("EMPTY", "", {});
    b.addFile("CTRL", "CMD", {0x16, 0x0D, 0x0A, 0x00});
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    int n = 0;
    auto save = [&](const ImageBuilder& b) {
        b.save((folder / ("seed-" + std::to_string(n++) + ".dsk")).string());
    };

    save(ImageBuilder::formatted(3, 10));
    save(withFiles(6, 10));
    save(withFiles(8, 18));
    // The other layouts found in collections: a shorter track 0, a header, and both.
    save(withFiles(6, 18, {10, 0}));
    save(withFiles(6, 10, {0, 64}));
    save(withFiles(5, 18, {8, 200}));

    ImageBuilder many = ImageBuilder::formatted(12, 10);
    for (int i = 0; i < 25; ++i) // three directory sectors
        many.addFile("F" + std::to_string(i), "DAT", Bytes(static_cast<std::size_t>(i * 40), 'a'));
    many.rawEntry({0, 5}, 3, {0xFF, 'O', 'L', 'D'});
    save(many);

    ImageBuilder full = ImageBuilder::formatted(3, 10);
    full.addFile("ALL", "DAT", Bytes(20 * 252, 'z'));
    save(full);

    ImageBuilder loop = withFiles(6, 10);
    loop.setLink({1, 2}, {1, 1});
    save(loop);

    ImageBuilder outside = withFiles(6, 10);
    outside.setLink({5, 10}, {9, 9});
    save(outside);

    ImageBuilder dirLoop = withFiles(6, 10);
    for (int k = 5; k < 10; ++k) // a full sector, so the walk reaches its link
        dirLoop.entry({0, 5}, k, {"D" + std::to_string(k), "TXT"});
    dirLoop.setLink({0, 5}, {0, 5});
    save(dirLoop);

    std::printf("%d seed images in %s\n", n, folder.string().c_str());
    return 0;
}
