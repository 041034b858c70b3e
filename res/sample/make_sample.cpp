// Builds the sample disk that `make run` opens: a fresh FLEX image with a text file in FLEX
// text form, a small binary and a random-access file, all written through the engine.

#include "engine/Chain.h"
#include "engine/Create.h"
#include "engine/Directory.h"
#include "engine/Import.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

// The sample asks nothing: every question is answered No and every message ends the build.
class NoQuestions : public dw::ImportQuestions {
public:
    bool askName(std::string&) override { return false; }
    bool askYesNo(const std::string&) override { return false; }
    void tell(const std::string& message) override { std::cerr << message << '\n'; }
};

// Host text to FLEX text: CR line ends, runs of three or more spaces as 0x09 and a count.
std::vector<std::uint8_t> flexText(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\n') {
            out.push_back(0x0D);
            ++i;
            continue;
        }
        std::size_t run = 0;
        while (i + run < text.size() && text[i + run] == ' ' && run < 127)
            ++run;
        if (run >= 3) {
            out.push_back(0x09);
            out.push_back(static_cast<std::uint8_t>(run));
            i += run;
        } else if (run > 0) {
            out.insert(out.end(), run, ' ');
            i += run;
        } else {
            out.push_back(static_cast<std::uint8_t>(text[i++]));
        }
    }
    return out;
}

// A 6809 program at $C100: print the message through PSTRNG ($CD1E), return to FLEX ($CD03).
std::vector<std::uint8_t> helloProgram() {
    const std::string message = "HELLO FROM THE DISKWRIGHT SAMPLE DISK";
    std::vector<std::uint8_t> code = {0x8E, 0xC1, 0x09,  // LDX #MSG
                                      0xBD, 0xCD, 0x1E,  // JSR PSTRNG
                                      0x7E, 0xCD, 0x03}; // JMP WARMS
    code.insert(code.end(), message.begin(), message.end());
    code.push_back(0x04); // PSTRNG's end of string
    std::vector<std::uint8_t> records = {0x02, 0xC1, 0x00, static_cast<std::uint8_t>(code.size())};
    records.insert(records.end(), code.begin(), code.end());
    records.insert(records.end(), {0x16, 0xC1, 0x00}); // transfer address
    return records;
}

// Two map sectors, then one 252-byte record per sector; the map is filled in once the chain
// is known.
std::vector<std::uint8_t> phoneRecords() {
    const char* people[] = {"ADA LOVELACE      555-0101", "ALAN TURING       555-0102",
                            "GRACE HOPPER      555-0103", "JOHN VON NEUMANN  555-0104",
                            "KATHERINE JOHNSON 555-0105"};
    std::vector<std::uint8_t> data(2 * dw::SectorDataSize, 0);
    for (const char* person : people) {
        std::vector<std::uint8_t> record(dw::SectorDataSize, ' ');
        std::string text(person);
        std::copy(text.begin(), text.end(), record.begin());
        record.back() = 0x0D;
        data.insert(data.end(), record.begin(), record.end());
    }
    return data;
}

bool fail(const std::string& what) {
    std::cerr << "make_sample: " << what << '\n';
    return false;
}

bool importBytes(dw::DiskImage& image, const std::filesystem::path& folder, const std::string& name,
                 const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path host = folder / name;
    {
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return fail("cannot write " + host.string());
    }
    NoQuestions questions;
    dw::ImportOptions options;
    options.mode = dw::ImportMode::Binary; // the bytes are already in FLEX form
    dw::ImportResult result = dw::importFile(image, host.string(), options, questions, name);
    std::filesystem::remove(host);
    return result.committed || fail("cannot import " + name + ": " + result.status.text());
}

// Marks PHONES.DAT random and writes its file sector map: (track, sector, count) runs of the
// data sectors; the two map sectors carry record number 0, the records count from 1.
bool makeRandom(dw::DiskImage& image, const std::string& name, const std::string& ext) {
    dw::ImageChange change(image);
    if (!change.status().ok())
        return fail(change.status().text());
    dw::SystemInformationRecord sir;
    if (!image.readSir(sir).ok())
        return fail("cannot read the SIR");
    bool done = false;
    dw::Status walk = dw::walkDirectory(image, [&](const dw::DirectorySlot& slot) {
        if (!slot.entry.isLive() || slot.entry.name() != name || slot.entry.ext() != ext)
            return dw::SlotAction::Continue;
        dw::ChainWalk chain = dw::walkChain(image, slot.entry.startLink, 1000);
        if (chain.end != dw::ChainWalk::End::Null || chain.sectors.size() < 3)
            return dw::SlotAction::Stop;
        std::vector<std::uint8_t> map;
        for (std::size_t i = 2; i < chain.sectors.size(); ++i) {
            const dw::SectorLink link = chain.sectors[i];
            const std::size_t n = map.size();
            if (n >= 3 && map[n - 3] == link.track && map[n - 2] + map[n - 1] == link.sector &&
                map[n - 1] < 255) {
                ++map[n - 1];
            } else {
                map.insert(map.end(), {link.track, link.sector, 1});
            }
        }
        for (std::size_t i = 0; i < chain.sectors.size(); ++i) {
            dw::Sector sector{};
            if (!image.readSector(chain.sectors[i], sector).ok())
                return dw::SlotAction::Stop;
            const std::uint16_t record = i < 2 ? 0 : static_cast<std::uint16_t>(i - 1);
            dw::putBigEndian16(sector.data() + 2, record);
            if (i == 0)
                std::copy(map.begin(), map.end(), sector.begin() + dw::SectorHeaderSize);
            if (!image.writeSector(chain.sectors[i], sector).ok())
                return dw::SlotAction::Stop;
        }
        dw::DirectoryEntry entry = slot.entry;
        entry.randomFlag = 2;
        done = image.writeEntry(slot.offset, entry).ok() && change.commit().ok();
        return dw::SlotAction::Stop;
    });
    return (walk.ok() && done) || fail("cannot make " + name + "." + ext + " random");
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_sample README.TXT OUTPUT.dsk\n";
        return 2;
    }
    const std::string readme = readText(argv[1]);
    const std::filesystem::path output = argv[2];
    std::filesystem::create_directories(output.parent_path());

    dw::FormatParameters parameters;
    parameters.tracks = 35;
    parameters.sectorsPerSide = 10;
    parameters.doubleSided = false;
    parameters.volumeName = "SAMPLE";
    dw::NullProgress progress;
    dw::Status status =
        dw::createImageFile(output.string(), parameters, dw::currentLocalDate(), progress, true);
    if (!status.ok())
        return fail(status.text()), 1;

    std::unique_ptr<dw::DiskImage> image;
    if (!dw::DiskImage::open(output.string(), image).ok() || image->readOnly())
        return fail("cannot open " + output.string()), 1;
    const std::filesystem::path folder = output.parent_path();
    bool ok = importBytes(*image, folder, "README.TXT", flexText(readme)) &&
              importBytes(*image, folder, "HELLO.CMD", helloProgram()) &&
              importBytes(*image, folder, "PHONES.DAT", phoneRecords()) &&
              makeRandom(*image, "PHONES", "DAT");
    if (!ok) {
        image.reset();
        std::filesystem::remove(output);
        return 1;
    }
    return 0;
}
