#include "engine/HostNames.h"
#include "engine/Extract.h"
#include "engine/RowFields.h"
#include "engine/Texts.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace dwtest;
namespace fs = std::filesystem;

TEST(HostNames, FlexNamesStayInsideTheirFolder) {
    EXPECT_EQ(dw::hostFileName("LIST", "TXT"), "LIST.TXT");
    EXPECT_EQ(dw::hostFileName("LIST", ""), "LIST.");
    EXPECT_EQ(dw::hostFileName("..", "/x"), "..._x");
    EXPECT_EQ(dw::hostFileName("A/B", "C\\D"), "A_B.C_D");
    EXPECT_EQ(dw::hostFileName(std::string("A\0B", 3), "\n"), "A_B._");
    EXPECT_EQ(dw::hostFileName("", ""), "_.");
    EXPECT_EQ(dw::hostFileName(".", ""), "_..");
    EXPECT_EQ(dw::hostFileName("\xE9T\xC9", "BIN"), "\xE9T\xC9.BIN");
}

TEST(HostNames, TemporaryFolderPrefersTempThenSetting) {
    const char* old = std::getenv("TEMP");
    const std::string saved = old ? old : "";
    ::setenv("TEMP", "/from/env", 1);
    EXPECT_EQ(dw::temporaryFolder("/from/setting"), fs::path("/from/env"));
    ::setenv("TEMP", "", 1);
    EXPECT_EQ(dw::temporaryFolder("/from/setting"), fs::path("/from/setting"));
    ::unsetenv("TEMP");
    EXPECT_EQ(dw::temporaryFolder(""), fs::temp_directory_path());
    if (old)
        ::setenv("TEMP", saved.c_str(), 1);
}

TEST(HostNames, RowTextsReadBackToEntryFields) {
    dw::DirectoryEntry e;
    e.fileName = {'R', 'E', 'A', 'D', 'M', 'E', 0, 0};
    e.extension = {'T', 'X', 'T'};
    e.startLink = {7, 213};
    e.sectorCount = 65535;
    e.randomFlag = 2;
    dw::EntryFields f = dw::parseRowFields(dw::rowTexts(e));
    EXPECT_EQ(f.name, "README");
    EXPECT_EQ(f.ext, "TXT");
    EXPECT_TRUE(f.randomFlag);
    EXPECT_EQ(f.startLink, (dw::SectorLink{7, 213}));
    EXPECT_EQ(f.sectorCount, 65535);

    dw::RowTexts odd{"A", "", " ", "", "12", "", "  x"};
    f = dw::parseRowFields(odd);
    EXPECT_FALSE(f.randomFlag);
    EXPECT_EQ(f.startLink, (dw::SectorLink{12, 0}));
    EXPECT_EQ(f.sectorCount, 0);
}

namespace {
dw::Status writeText(const fs::path& path, bool replace, const std::string& text,
                     dw::Status outcome = {}) {
    return dw::writeHostFile(path, replace, [&](std::ostream& out) {
        out << text;
        return outcome;
    });
}
std::string contents(const fs::path& path) {
    auto bytes = readFileBytes(path.string());
    return {bytes.begin(), bytes.end()};
}
std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}
} // namespace

TEST(HostNames, HostFilesAreReplacedOnlyWhenComplete) {
    const fs::path dir = tempPath("hostdir");
    fs::create_directories(dir);
    const fs::path file = dir / "OUT.TXT";
    ASSERT_TRUE(writeText(file, false, "first").ok());
    EXPECT_EQ(contents(file), "first");

    dw::Status exists = writeText(file, false, "second");
    EXPECT_EQ(exists.code(), dw::ErrorCode::Exists);
    EXPECT_EQ(contents(file), "first");

    // A failed copy leaves the old file and no temporary file behind.
    dw::Status failed = writeText(file, true, "partial", {dw::ErrorCode::ReadFailed, "bad read"});
    EXPECT_EQ(failed.code(), dw::ErrorCode::ReadFailed);
    EXPECT_EQ(contents(file), "first");
    EXPECT_EQ(entries(dir), 1u);

    ASSERT_TRUE(writeText(file, true, "second").ok());
    EXPECT_EQ(contents(file), "second");
    EXPECT_EQ(entries(dir), 1u);

    // Through a symbolic link the file it names is replaced; the link stays.
    const fs::path link = dir / "LINK.TXT";
    fs::create_symlink(file, link);
    ASSERT_TRUE(writeText(link, true, "third").ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(file), "third");
    fs::remove(link);

    // No length limit of our own on paths.
    const fs::path deep = dir / std::string(120, 'd') / std::string(120, 'e');
    fs::create_directories(deep);
    ASSERT_TRUE(writeText(deep / "LONG.TXT", false, "long").ok());
    EXPECT_EQ(contents(deep / "LONG.TXT"), "long");

    EXPECT_EQ(writeText(dir / "missing" / "X", true, "x").code(), dw::ErrorCode::OpenFailed);
    EXPECT_EQ(writeText(dir, true, "x").code(), dw::ErrorCode::OpenFailed);
}

TEST(HostNames, FullDeviceIsReportedNotPassedOffAsDone) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    dw::Status status = writeText("/dev/full", true, std::string(100000, 'x'));
    EXPECT_EQ(status.code(), dw::ErrorCode::WriteFailed) << status.text();
}

TEST(HostNames, ViewCopyGoesToTheTemporaryFolderUnderASafeName) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile(".", "", {'h', 'i', 0x0D});
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(b.save(tempPath("view.dsk")), image).ok());
    const fs::path dir = tempPath("viewtemp");
    fs::create_directories(dir);
    const char* old = std::getenv("TEMP");
    const std::string saved = old ? old : "";
    ::unsetenv("TEMP");
    dw::EntryFields file{".", "", false, {1, 1}, 1};
    fs::path where;
    dw::ExtractResult r = dw::viewCopy(*image, file, dir.string(), true, true, where);
    ASSERT_TRUE(r.status.ok()) << r.status.text();
    EXPECT_EQ(where, dir / "_..");
    EXPECT_EQ(contents(where), "hi\r\n");
    EXPECT_EQ(r.mode, dw::TransferMode::Text);

    r = dw::viewCopy(*image, file, (dir / "missing").string(), true, true, where);
    EXPECT_EQ(r.status.text(), dw::UnableToOpenTempTargetText);
    if (old)
        ::setenv("TEMP", saved.c_str(), 1);
}
