#include "engine/HostNames.h"
#include "engine/Extract.h"
#include "engine/RowFields.h"
#include "engine/Texts.h"
#include "tests/support/ImageBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>

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

TEST(HostNames, ViewCopyGoesToTheTemporaryFolderUnderASafeName) {
    ImageBuilder b = ImageBuilder::formatted(4, 10);
    b.addFile(".", "", {'h', 'i', 0x0D});
    std::unique_ptr<dw::DiskImage> image;
    ASSERT_TRUE(dw::DiskImage::open(b.save(tempPath("view.dsk")), image).ok());
    const fs::path dir = tempFolder("viewtemp");
    const char* old = std::getenv("TEMP");
    const std::string saved = old ? old : "";
    ::unsetenv("TEMP");
    dw::EntryFields file{".", "", false, {1, 1}, 1};
    fs::path where;
    dw::ExtractResult r = dw::viewCopy(*image, file, dir.string(), true, true, where);
    ASSERT_TRUE(r.status.ok()) << r.status.text();
    EXPECT_EQ(where, dir / "_..");
    EXPECT_EQ(readFileText(where), "hi\r\n");
    EXPECT_EQ(r.mode, dw::TransferMode::Text);

    r = dw::viewCopy(*image, file, (dir / "missing").string(), true, true, where);
    EXPECT_EQ(r.status.text(), dw::UnableToOpenTempTargetText);

    // A pipe planted under the copy's name is refused at once, not waited on; a planted link is
    // replaced, never written through.
    const fs::path planted = tempFolder("viewplanted");
    ASSERT_EQ(::mkfifo((planted / "_..").c_str(), 0666), 0);
    r = dw::viewCopy(*image, file, planted.string(), true, true, where);
    EXPECT_EQ(r.status.text(), dw::UnableToOpenTempTargetText);
    fs::remove(planted / "_..");
    const fs::path victim = planted / "victim";
    writeFileText(victim, "v");
    fs::create_symlink(victim, planted / "_..");
    r = dw::viewCopy(*image, file, planted.string(), true, true, where);
    ASSERT_TRUE(r.status.ok()) << r.status.text();
    EXPECT_FALSE(fs::is_symlink(where));
    EXPECT_EQ(readFileText(where), "hi\r\n");
    EXPECT_EQ(readFileText(victim), "v");
    if (old)
        ::setenv("TEMP", saved.c_str(), 1);
}
