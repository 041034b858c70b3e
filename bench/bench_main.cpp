// Times each operation on the largest FLEX geometry and on the format dialog's default one,
// and prints each time also as a ratio to a plain `cp` of the image's number of bytes made in
// the same run, so the figures mean something on a busy machine. Each figure is the median of
// a few runs.
//
// Usage: diskwright-bench WORK_FOLDER

#include "engine/Check.h"
#include "engine/Create.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/Import.h"
#include "tests/support/ImageBuilder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Runs = 3;

struct Geometry {
    const char* name;
    int tracks;
    int sectorsPerSide;
    bool doubleSided;
};

dw::FormatParameters parameters(const Geometry& g) {
    dw::FormatParameters p;
    p.tracks = g.tracks;
    p.sectorsPerSide = g.sectorsPerSide;
    p.doubleSided = g.doubleSided;
    p.volumeName = "BENCH";
    return p;
}

void require(const dw::Status& status, const char* what) {
    if (!status.ok()) {
        std::cerr << what << ": " << status.text() << '\n';
        std::exit(1);
    }
}

std::unique_ptr<dw::DiskImage> open(const fs::path& path) {
    std::unique_ptr<dw::DiskImage> image;
    require(dw::DiskImage::open(path.string(), image), "open");
    return image;
}

// Median wall time in milliseconds; `prepare` runs untimed before each run.
double measure(const std::function<void()>& prepare, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// One operation's timing, or nothing while the engine has no such operation yet.
using Timing = std::optional<double>;

// Any question in a benchmark is a fault: the file fits and its name is free.
class NoQuestions : public dw::ImportQuestions {
public:
    bool askName(std::string&) override { return fail("name"); }
    bool askYesNo(const std::string& question) override { return fail(question); }
    void tell(const std::string& message) override { fail(message); }

private:
    static bool fail(const std::string& what) {
        std::cerr << "import asked: " << what << '\n';
        std::exit(1);
    }
};

// Imports a host file of (tracks-1) x spt x 252 bytes into a copy of the fresh image, which
// fills it; the last run's result is kept as the filled image.
Timing benchImport(const Geometry& g, const fs::path& fresh, const fs::path& filled) {
    const int spt = g.doubleSided ? 2 * g.sectorsPerSide : g.sectorsPerSide;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(g.tracks - 1) * spt * 252);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 80 == 79 ? '\r' : 'A' + i % 26);
    const fs::path host = filled.parent_path() / "big.txt";
    dwtest::writeFileBytes(host.string(), data);
    dw::ImportOptions options;
    options.mode = dw::ImportMode::Binary;
    NoQuestions questions;
    const double ms =
        measure([&] { fs::copy_file(fresh, filled, fs::copy_options::overwrite_existing); },
                [&] {
                    auto image = open(filled);
                    const dw::ImportResult result =
                        dw::importFile(*image, host.string(), options, questions, "BIG.TXT");
                    require(result.status, "import");
                });
    fs::remove(host);
    return ms;
}

void buildFilledImage(const Geometry& g, const fs::path& filled) {
    const int spt = g.doubleSided ? 2 * g.sectorsPerSide : g.sectorsPerSide;
    dwtest::ImageBuilder b = dwtest::ImageBuilder::formatted(g.tracks, spt, "BENCH");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(g.tracks - 1) * spt * 252);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 80 == 79 ? '\r' : 'A' + i % 26);
    b.addFile("BIG", "TXT", data);
    b.save(filled.string());
}

// BIG.TXT of the filled image copied to a host file in the work folder.
Timing benchExport(const fs::path& filled, const fs::path& work, dw::TransferMode mode) {
    auto image = open(filled);
    dw::Listing listing;
    require(dw::readListing(*image, listing), "list");
    const dw::EntryFields big = dw::fieldsOf(listing.entries.at(0));
    const fs::path target = work / "BIG.TXT";
    dw::ExtractOptions options;
    options.forceMode = mode;
    const double ms =
        measure([&] { fs::remove(target); },
                [&] {
                    dw::ExtractResult result = dw::exportFile(*image, big, target, true, options);
                    require(result.status, "export");
                    if (result.chainEndedEarly)
                        require({dw::ErrorCode::Damaged, "chain ended early"}, "export");
                });
    fs::remove(target);
    return ms;
}
Timing benchExportBinary(const fs::path& filled, const fs::path& work) {
    return benchExport(filled, work, dw::TransferMode::Binary);
}
Timing benchExportText(const fs::path& filled, const fs::path& work) {
    return benchExport(filled, work, dw::TransferMode::Text);
}

void row(const char* geometry, const char* operation, Timing ms, double copyMs) {
    if (ms) {
        std::printf("%-24s %-16s %10.2f %8.2f\n", geometry, operation, *ms, *ms / copyMs);
    } else {
        std::printf("%-24s %-16s %10s %8s\n", geometry, operation, "n/a", "n/a");
    }
}

void benchGeometry(const Geometry& g, const fs::path& work) {
    const dw::FormatParameters p = parameters(g);
    const fs::path fresh = work / "fresh.dsk";
    const fs::path filled = work / "filled.dsk";
    const fs::path scratch = work / "scratch.dsk";
    const std::uintmax_t bytes = static_cast<std::uintmax_t>(dw::imageSectorCount(p)) * 256;

    // The yardstick: a plain sequential copy of the same number of bytes.
    const fs::path source = work / "copy-source";
    {
        std::vector<char> block(bytes, 'x');
        std::FILE* out = std::fopen(source.string().c_str(), "wb");
        if (!out || std::fwrite(block.data(), 1, block.size(), out) != block.size() ||
            std::fclose(out) != 0) {
            std::cerr << "cannot write " << source << '\n';
            std::exit(1);
        }
    }
    const std::string copyCommand =
        "cp '" + source.string() + "' '" + (work / "copy-target").string() + "'";
    const double copyMs = measure([] {},
                                  [&] {
                                      if (std::system(copyCommand.c_str()) != 0)
                                          std::exit(1);
                                  });

    char title[64];
    std::snprintf(title, sizeof title, "%dx%d (%.1f MB)", g.tracks,
                  g.doubleSided ? 2 * g.sectorsPerSide : g.sectorsPerSide,
                  static_cast<double>(bytes) / 1e6);
    row(title, "cp", copyMs, copyMs);

    const double createMs = measure(
        [&] { fs::remove(fresh); },
        [&] {
            dw::NullProgress progress;
            require(dw::createImageFile(fresh.string(), p, dw::currentLocalDate(), progress, false),
                    "create");
        });
    row(title, "create", createMs, copyMs);

    Timing importMs = benchImport(g, fresh, filled);
    if (!importMs)
        buildFilledImage(g, filled);
    row(title, "import (fill)", importMs, copyMs);

    const double listMs = measure([] {},
                                  [&] {
                                      auto image = open(filled);
                                      dw::Listing listing;
                                      require(dw::readListing(*image, listing), "list");
                                  });
    row(title, "list", listMs, copyMs);

    row(title, "export binary", benchExportBinary(filled, work), copyMs);
    row(title, "export text", benchExportText(filled, work), copyMs);

    const double deleteMs =
        measure([&] { fs::copy_file(filled, scratch, fs::copy_options::overwrite_existing); },
                [&] {
                    auto image = open(scratch);
                    require(dw::deleteFile(*image, "BIG", "TXT"), "delete");
                });
    row(title, "delete", deleteMs, copyMs);

    const double checkMs = measure([] {},
                                   [&] {
                                       auto image = open(filled);
                                       const dw::CheckReport report = dw::checkImage(*image);
                                       if (!report.clean()) {
                                           std::cerr << "check: " << report.findings.front()
                                                     << '\n';
                                           std::exit(1);
                                       }
                                   });
    row(title, "check", checkMs, copyMs);

    for (const fs::path& path : {fresh, filled, scratch, source, work / "copy-target"})
        fs::remove(path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: diskwright-bench WORK_FOLDER\n";
        return 2;
    }
    const fs::path work = argv[1];
    fs::create_directories(work);
    std::printf("%-24s %-16s %10s %8s\n", "geometry", "operation", "ms", "x cp");
    benchGeometry({"largest", 256, 255, false}, work);
    benchGeometry({"dialog default", 80, 18, true}, work);
    std::printf("\nEach figure is the median of %d runs; \"x cp\" is the ratio to the cp line "
                "above it.\n",
                Runs);
    return 0;
}
