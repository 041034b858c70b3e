// Times each operation on the largest FLEX geometry and on the format dialog's default one,
// and prints each time also as a ratio to a plain `cp` of the image's number of bytes made in
// the same run, so the figures mean something on a busy machine. Each figure is the median of
// a few runs. Each operation then runs once more in a process of its own under strace, which
// gives its system calls and that process's peak memory.
//
// Usage: diskwright-bench WORK_FOLDER
//        diskwright-bench --single GEOMETRY OPERATION WORK_FOLDER   (one run, for strace)

#include "engine/Check.h"
#include "engine/Create.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/Import.h"
#include "engine/Repair.h"
#include "engine/WriteFile.h"
#include "tests/support/ImageBuilder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Runs = 3;
constexpr int ManyFiles = 2500;
constexpr const char* BeginMark = "DW-BENCH-BEGIN";
constexpr const char* EndMark = "DW-BENCH-END";

struct Geometry {
    const char* name;
    int tracks;
    int sectorsPerSide;
    bool doubleSided;

    int sectorsPerTrack() const { return doubleSided ? 2 * sectorsPerSide : sectorsPerSide; }
    // As many small files as the directory takes, at most ManyFiles.
    int manyFiles() const { return std::min(ManyFiles, (sectorsPerTrack() - 4) * 10); }
};

const Geometry Geometries[] = {{"largest", 256, 255, false}, {"dialog default", 80, 18, true}};

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

// Any question in a benchmark is a fault: the files fit and their names are free.
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

std::vector<std::uint8_t> bigText(const Geometry& g) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(g.tracks - 1) * g.sectorsPerTrack() *
                                   252);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 80 == 79 ? '\r' : 'A' + i % 26);
    return data;
}

// The files and images every operation of one geometry works on.
struct Work {
    Geometry g;
    fs::path dir;
    fs::path fresh, filled, scratch, many, copySource, copyTarget, bigHost, exported;
    std::vector<std::string> manyHosts;
    std::uintmax_t bytes = 0;

    Work(const Geometry& geometry, const fs::path& folder) : g(geometry), dir(folder) {
        fresh = dir / "fresh.dsk";
        filled = dir / "filled.dsk";
        scratch = dir / "scratch.dsk";
        many = dir / "many";
        copySource = dir / "copy-source";
        copyTarget = dir / "copy-target";
        bigHost = dir / "big.txt";
        exported = dir / "BIG.TXT";
        bytes = static_cast<std::uintmax_t>(dw::imageSectorCount(parameters(g))) * 256;
        for (int i = 0; i < g.manyFiles(); ++i)
            manyHosts.push_back((many / ("F" + std::to_string(i) + ".TXT")).string());
    }

    // Host files and the fresh image, made once per geometry, untimed.
    void setUp() const {
        {
            std::vector<char> block(bytes, 'x');
            std::ofstream out(copySource, std::ios::binary | std::ios::trunc);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            if (!out) {
                std::cerr << "cannot write " << copySource << '\n';
                std::exit(1);
            }
        }
        dwtest::writeFileBytes(bigHost.string(), bigText(g));
        fs::create_directories(many);
        for (std::size_t i = 0; i < manyHosts.size(); ++i) {
            std::string text = "FILE " + std::to_string(i) + "\n";
            for (int line = 0; line < 4; ++line)
                text += "A SMALL TEXT FILE, LINE " + std::to_string(line) + "\n";
            dwtest::writeFileBytes(manyHosts[i], {text.begin(), text.end()});
        }
        fs::remove(fresh);
        dw::NullProgress progress;
        require(dw::createImageFile(fresh.string(), parameters(g), dw::currentLocalDate(), progress,
                                    false),
                "create");
    }

    void tearDown() const {
        for (const fs::path& path :
             {fresh, filled, scratch, copySource, copyTarget, bigHost, exported})
            fs::remove(path);
        fs::remove_all(many);
    }
};

struct Operation {
    const char* name;
    std::function<void(const Work&)> prepare; // untimed, before each run
    std::function<void(const Work&)> run;
};

void copyImage(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void exportBig(const Work& w, dw::TransferMode mode) {
    auto image = open(w.filled);
    dw::Listing listing;
    require(dw::readListing(*image, listing), "list");
    const dw::EntryFields big = dw::fieldsOf(listing.entries.at(0));
    dw::ExtractOptions options;
    options.forceMode = mode;
    dw::ExtractResult result = dw::exportFile(*image, big, w.exported, true, options);
    require(result.status, "export");
    if (result.chainEndedEarly)
        require({dw::ErrorCode::Damaged, "chain ended early"}, "export");
}

// As the command-line tool and the window run a batch: one change, written once at its end.
void importMany(dw::DiskImage& image, const std::vector<std::string>& hosts) {
    dw::ImageChange change(image);
    require(change.status(), "change");
    dw::ImportOptions options;
    NoQuestions questions;
    dw::ImportSession session(image, options, questions);
    for (const std::string& host : hosts)
        require(session.importFile(host).status, "import");
    require(change.commit(), "commit");
}

std::vector<Operation> operations() {
    auto nothing = [](const Work&) {};
    return {
        {"cp", nothing,
         [](const Work& w) {
             const std::string command =
                 "cp '" + w.copySource.string() + "' '" + w.copyTarget.string() + "'";
             if (std::system(command.c_str()) != 0)
                 std::exit(1);
         }},
        {"create", [](const Work& w) { fs::remove(w.scratch); },
         [](const Work& w) {
             dw::NullProgress progress;
             require(dw::createImageFile(w.scratch.string(), parameters(w.g),
                                         dw::currentLocalDate(), progress, false),
                     "create");
         }},
        // A host file that fills the disk; the last run's result is the filled image.
        {"import (fill)", [](const Work& w) { copyImage(w.fresh, w.filled); },
         [](const Work& w) {
             auto image = open(w.filled);
             dw::ImportOptions options;
             options.mode = dw::ImportMode::Binary;
             NoQuestions questions;
             require(
                 dw::importFile(*image, w.bigHost.string(), options, questions, "BIG.TXT").status,
                 "import");
         }},
        // The filled image's file into a fresh one, as diskwright-cli copy does it: the source
        // mapped and read under a shared hold, the target written as one change.
        {"copy (fill)", [](const Work& w) { copyImage(w.fresh, w.scratch); },
         [](const Work& w) {
             std::unique_ptr<dw::DiskImage> source;
             require(dw::DiskImage::openReadOnly(w.filled.string(), source), "open");
             const dw::ImageRead hold(*source);
             dw::SystemInformationRecord sir;
             require(source->readSir(sir), "read");
             dw::SectorMap map;
             require(dw::SectorMap::build(*source, sir, map), "map");
             dw::WholeFlexFile file;
             require(dw::readWholeFile(*source, map, map.findLive("BIG", "TXT"), file), "read");
             auto target = open(w.scratch);
             dw::ImageChange change(*target);
             require(dw::writeFile(*target, std::move(file), false).status, "copy");
             require(change.commit(), "commit");
         }},
        {"import many", [](const Work& w) { copyImage(w.fresh, w.scratch); },
         [](const Work& w) {
             auto image = open(w.scratch);
             importMany(*image, w.manyHosts);
         }},
        // The cost every change pays however small: the journal, three syncs and its removal.
        {"import 1 file", [](const Work& w) { copyImage(w.fresh, w.scratch); },
         [](const Work& w) {
             auto image = open(w.scratch);
             importMany(*image, {w.manyHosts.front()});
         }},
        {"list", nothing,
         [](const Work& w) {
             auto image = open(w.filled);
             dw::Listing listing;
             require(dw::readListing(*image, listing), "list");
         }},
        {"export binary", [](const Work& w) { fs::remove(w.exported); },
         [](const Work& w) { exportBig(w, dw::TransferMode::Binary); }},
        {"export text", [](const Work& w) { fs::remove(w.exported); },
         [](const Work& w) { exportBig(w, dw::TransferMode::Text); }},
        {"delete", [](const Work& w) { copyImage(w.filled, w.scratch); },
         [](const Work& w) {
             auto image = open(w.scratch);
             require(dw::deleteFile(*image, "BIG", "TXT"), "delete");
         }},
        {"repair (sound)", nothing,
         [](const Work& w) {
             auto image = open(w.filled);
             dw::ImageChange change(*image);
             dw::RepairPlan plan;
             require(dw::planRepair(*image, plan), "repair");
             if (plan.needed)
                 require({dw::ErrorCode::Damaged, "the free chain needs repair"}, "repair");
         }},
        {"check", nothing,
         [](const Work& w) {
             auto image = open(w.filled);
             const dw::CheckReport report = dw::checkImage(*image);
             if (!report.clean()) {
                 std::cerr << "check: " << report.findings.front() << '\n';
                 std::exit(1);
             }
         }},
    };
}

// Median wall time in milliseconds.
double measure(const Operation& op, const Work& w) {
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        op.prepare(w);
        const auto start = std::chrono::steady_clock::now();
        op.run(w);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The markers strace sees around the measured run.
void mark(const char* name) {
    (void)::access(name, F_OK);
}

// One run of one operation for strace; prints the process's peak resident memory in KiB.
int runSingle(int geometry, const std::string& name, const fs::path& dir) {
    const Work w(Geometries[geometry], dir);
    for (const Operation& op : operations()) {
        if (name != op.name)
            continue;
        op.prepare(w);
        mark(BeginMark);
        op.run(w);
        mark(EndMark);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        rusage children{};
        getrusage(RUSAGE_CHILDREN, &children);
        std::printf("%ld\n", std::max(usage.ru_maxrss, children.ru_maxrss));
        return 0;
    }
    std::cerr << "no operation " << name << '\n';
    return 2;
}

// System calls between the two markers (a call split by another process's counts once), and
// the peak memory; nothing when strace is missing or fails.
struct Counts {
    long calls = 0;
    long peakKiB = 0;
};

std::optional<Counts> countCalls(const std::string& self, int geometry, const Operation& op,
                                 const Work& w) {
    const fs::path trace = w.dir / "strace.txt";
    const std::string command = "strace -f -qq -o '" + trace.string() + "' '" + self +
                                "' --single " + std::to_string(geometry) + " '" + op.name + "' '" +
                                w.dir.string() + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    Counts counts;
    const bool read = std::fscanf(pipe, "%ld", &counts.peakKiB) == 1;
    if (::pclose(pipe) != 0 || !read)
        return std::nullopt;
    std::ifstream in(trace);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.find(BeginMark) != std::string::npos) {
            inside = true;
            continue;
        }
        if (line.find(EndMark) != std::string::npos)
            break;
        if (inside && line.find("resumed>") == std::string::npos &&
            line.find("+++ ") == std::string::npos && line.find("--- ") == std::string::npos)
            ++counts.calls;
    }
    fs::remove(trace);
    return counts;
}

void benchGeometry(const std::string& self, int index, const fs::path& dir) {
    const Work w(Geometries[index], dir);
    w.setUp();
    char title[64];
    std::snprintf(title, sizeof title, "%dx%d (%.1f MB)", w.g.tracks, w.g.sectorsPerTrack(),
                  static_cast<double>(w.bytes) / 1e6);
    double copyMs = 0;
    for (const Operation& op : operations()) {
        const double ms = measure(op, w);
        if (copyMs == 0)
            copyMs = ms;
        std::string name = op.name;
        if (name == "import many")
            name = "import " + std::to_string(w.g.manyFiles()) + " files";
        const std::optional<Counts> counts = countCalls(self, index, op, w);
        std::printf("%-22s %-20s %9.2f %7.2f", title, name.c_str(), ms, ms / copyMs);
        if (counts)
            std::printf(" %9ld %9.1f\n", counts->calls,
                        static_cast<double>(counts->peakKiB) / 1024);
        else
            std::printf(" %9s %9s\n", "n/a", "n/a");
        std::fflush(stdout);
    }
    w.tearDown();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--single")
        return runSingle(std::atoi(argv[2]) == 1 ? 1 : 0, argv[3], argv[4]);
    if (argc != 2) {
        std::cerr << "usage: diskwright-bench WORK_FOLDER\n";
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]);
    fs::create_directories(work);
    const std::string self = fs::absolute(fs::path(argv[0])).string();
    std::printf("%-22s %-20s %9s %7s %9s %9s\n", "geometry", "operation", "ms", "x cp", "syscalls",
                "peak MiB");
    for (int i = 0; i < 2; ++i)
        benchGeometry(self, i, work);
    std::printf("\nEach time is the median of %d runs; \"x cp\" is the ratio to the cp line of the "
                "same geometry.\n\"syscalls\" counts the system calls of one more run under "
                "strace (cp: with the shell that\nstarts it); \"peak MiB\" is that process's peak "
                "resident memory.\n",
                Runs);
    return 0;
}
