#include "ui/Startup.h"
#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DiskwrightDlg.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

using namespace dwtest;

namespace {

QSettings rawSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "LarkspurWorkshop",
                     "Diskwright");
}

std::string oneFileImage() {
    ImageBuilder b = ImageBuilder::formatted(35, 10, "START");
    b.addFile("README", "TXT", std::vector<std::uint8_t>(10, 'r'));
    return b.save(tempPath("start.dsk"));
}

// The program's start with these arguments, the window initialised as when it is first shown.
struct Started {
    Started(const QStringList& arguments, const ImageOpener& opener = defaultImageOpener()) {
        dlg = makeMainWindow(app, prompts, settings, arguments, opener);
        dlg->OnInitDialog();
    }
    CDiskwrightApp app;
    ScriptedPrompts prompts;
    SettingsStore settings;
    std::unique_ptr<CDiskwrightDlg> dlg;
};

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void init() { clearSettings(); }

    void settingsTableWithDefaults() {
        struct Int {
            IntSetting setting;
            const char* key;
            int value;
        };
        const Int ints[] = {
            {Settings::AddLineFeeds, "Diskwright/Add Line Feeds", 1},
            {Settings::ExpandTabs, "Diskwright/ExpandTabs", 1},
            {Settings::CompactBinary, "Diskwright/Compact Binary", 0},
            {Settings::StripLineFeeds, "Diskwright/Strip Line Feeds", 1},
            {Settings::CompressSpaces, "Diskwright/Compress Spaces", 1},
            {Settings::Processor, "Floppy Create/Processor", 1},
            {Settings::IncludeBootSector, "Floppy Create/Include Boot Sector", 1},
            {Settings::Tracks35, "Floppy Create/35 Tracks", 0},
            {Settings::Tracks40, "Floppy Create/40 Tracks", 0},
            {Settings::Tracks80, "Floppy Create/80 Tracks", 1},
            {Settings::UserDefined, "Floppy Create/User Defined", 0},
            {Settings::DoubleDensity, "Floppy Create/Double Density", 1},
            {Settings::SingleDensity, "Floppy Create/Single Density", 0},
            {Settings::QuadDensity, "Floppy Create/Quad Density", 0},
            {Settings::DoubleSided, "Floppy Create/DoubleSided", 1},
            {Settings::UserDefinedCylinders, "Floppy Create/User Defined Cylinders", 80},
            {Settings::UserDefinedSectors, "Floppy Create/User Defined Sectors", 18},
        };
        struct Text {
            StringSetting setting;
            const char* key;
        };
        const Text texts[] = {
            {Settings::EditorPath, "Diskwright/EditorPath"},
            {Settings::DefaultDiskwrightDir, "Directories/DefaultDiskwrightDir"},
            {Settings::DefaultExportDir, "Directories/DefaultExportDir"},
            {Settings::DefaultImportDir, "Directories/DefaultImportDir"},
            {Settings::TempDir, "Directories/TempDir"},
            {Settings::DefaultFormatDir, "Directories/DefaultFormatDir"},
        };

        SettingsStore store;
        for (const Int& i : ints)
            QCOMPARE(store.get(i.setting), i.value);
        for (const Text& t : texts)
            QCOMPARE(store.get(t.setting), QString());

        // Each value lands under its own section and name, and reads back.
        for (const Int& i : ints)
            QVERIFY(store.set(i.setting, i.value + 100));
        for (const Text& t : texts)
            QVERIFY(store.set(t.setting, QString("/x/") + t.key));
        QSettings raw = rawSettings();
        for (const Int& i : ints) {
            QCOMPARE(raw.value(i.key).toInt(), i.value + 100);
            QCOMPARE(store.get(i.setting), i.value + 100);
        }
        for (const Text& t : texts)
            QCOMPARE(raw.value(t.key).toString(), QString("/x/") + t.key);
        QCOMPARE(raw.childGroups(), QStringList({"Directories", "Diskwright", "Floppy Create"}));
    }

    void wrongKindReadsAsDefault() {
        {
            QSettings raw = rawSettings();
            raw.setValue("Diskwright/Compact Binary", "yes");
            raw.setValue("Floppy Create/User Defined Sectors", QStringList{"a", "b"});
            raw.setValue("Diskwright/Add Line Feeds", 0);
        }
        SettingsStore store;
        QCOMPARE(store.get(Settings::CompactBinary), 0);
        QCOMPARE(store.get(Settings::UserDefinedSectors), 18);
        QCOMPARE(store.get(Settings::AddLineFeeds), 0);
    }

    void settingsLoadIntoTheMembers() {
        CDiskwrightApp app;
        SettingsStore store;
        app.LoadSettings(store);
        QCOMPARE(app.m_strEditorPath, QString());
        QVERIFY(!app.m_bCompactBinary);
        QVERIFY(app.m_bAddLineFeeds && app.m_bStripLineFeeds && app.m_bCompressSpaces &&
                app.m_bExpandTabs);

        store.set(Settings::EditorPath, "/usr/bin/vi");
        store.set(Settings::CompactBinary, 1);
        store.set(Settings::AddLineFeeds, 0);
        store.set(Settings::StripLineFeeds, 0);
        store.set(Settings::CompressSpaces, 0);
        store.set(Settings::ExpandTabs, 0);
        app.LoadSettings(store);
        QCOMPARE(app.m_strEditorPath, QString("/usr/bin/vi"));
        QVERIFY(app.m_bCompactBinary);
        QVERIFY(!app.m_bAddLineFeeds && !app.m_bStripLineFeeds && !app.m_bCompressSpaces &&
                !app.m_bExpandTabs);
    }

    void imageArgument_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("image");
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("path") << QStringList{"/data/a.dsk"} << "/data/a.dsk";
        QTest::newRow("first path wins") << QStringList{"a.dsk", "b.dsk"} << "a.dsk";
        QTest::newRow("dash options") << QStringList{"-style", "-x", "a.dsk"} << "a.dsk";
        QTest::newRow("automation words")
            << QStringList{"/Embedding", "/Automation", "/Unregserver", "/Regserver", "b.dsk"}
            << "b.dsk";
        QTest::newRow("only a switch") << QStringList{"/Embedding"} << "";
        QTest::newRow("other spelling is a path") << QStringList{"/embedding"} << "/embedding";
        QTest::newRow("a folder named like a word")
            << QStringList{"/Automation/x.dsk"} << "/Automation/x.dsk";
    }

    void imageArgument() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, image);
        QCOMPARE(CDiskwrightApp::imageArgument(arguments), image);
    }

    void commandLineImageOpensReadWrite() {
        const QFileInfo file(QString::fromStdString(oneFileImage()));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(file.absolutePath());
        Started s({"/Automation", file.fileName()});
        QDir::setCurrent(previous);

        QCOMPARE(s.dlg->windowTitle(), "Diskwright: " + file.fileName());
        QCOMPARE(lampOf(*s.dlg), IDB_READ_WRITE);
        QCOMPARE(rowsOf(*s.dlg), QStringList{"README|TXT| |2003-01-02|001-001|001-001|     1"});
        QCOMPARE(controlText(*s.dlg, IDC_VOLUME_LABEL), QString("START [1]"));
        QVERIFY(imageButtonsEnabled(*s.dlg));
        QCOMPARE(controlText(*s.dlg, IDC_OPEN_DISK), QString("&Open Disk"));
        QCOMPARE(s.settings.get(Settings::DefaultDiskwrightDir), QString());
        QVERIFY(s.prompts.allShown());
    }

    void commandLineImageOpensReadOnly() {
        const QString path = QString::fromStdString(oneFileImage());
        Started s({path}, readOnlyOpener());
        QCOMPARE(lampOf(*s.dlg), IDB_READ_ONLY);
        QVERIFY(s.dlg->IsReadOnly());
        QCOMPARE(rowsOf(*s.dlg).size(), 1);
        QVERIFY(imageButtonsEnabled(*s.dlg));
        QVERIFY(s.prompts.allShown());
    }

    void commandLineWithoutUsableImage() {
        {
            Started s({});
            QCOMPARE(s.dlg->windowTitle(), QString("Diskwright: "));
            QVERIFY(!s.dlg->HasImage());
        }
        {
            // A file that cannot be opened: no message, the name in the title.
            Started s({"/no/such/image.dsk"});
            QCOMPARE(s.dlg->windowTitle(), QString("Diskwright: /no/such/image.dsk"));
            QCOMPARE(lampOf(*s.dlg), IDB_NO_IMAGE);
            QVERIFY(rowsOf(*s.dlg).isEmpty());
            QCOMPARE(controlText(*s.dlg, IDC_FILE_COUNT), QString("    0"));
            QVERIFY(!imageButtonsEnabled(*s.dlg));
            QVERIFY(s.prompts.allShown());
        }
        {
            // A file that is no FLEX image is refused with a message.
            const std::string path = tempPath("tiny.dsk");
            writeFileBytes(path, std::vector<std::uint8_t>(100, 0xE5));
            CDiskwrightApp app;
            ScriptedPrompts prompts;
            SettingsStore settings;
            auto dlg = makeMainWindow(app, prompts, settings, {QString::fromStdString(path)});
            prompts.expectMessage({QString::fromStdString(path), "too short", "No disk image"});
            dlg->OnInitDialog();
            QVERIFY(!dlg->HasImage());
            QCOMPARE(lampOf(*dlg), IDB_NO_IMAGE);
            QVERIFY(!imageButtonsEnabled(*dlg));
            QVERIFY(prompts.allShown());
        }
    }
};

DW_UI_TEST_MAIN(StartupTest)
#include "StartupTest.moc"
