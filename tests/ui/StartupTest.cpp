#include "ui/Startup.h"
#include "app/DiskwrightApp.h"
#include "app/DiskwrightDlgAutoProxy.h"
#include "app/SettingsStore.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/RunDialog.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DiskwrightDlg.h"
#include "ui/EditorPathDlg.h"
#include "ui/ExternalEditor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace dwtest;

namespace {

std::string oneFileImage() {
    ImageBuilder b = ImageBuilder::formatted(35, 10, "START");
    b.addFile("README", "TXT", std::vector<std::uint8_t>(10, 'r'));
    return b.save(tempPath("start.dsk"));
}

// Checks that the editor prompt shows `shown`, types `path` over it and closes it with `button`.
std::function<int(QDialog&)> answerEditorPrompt(const QString& path, int button,
                                                const QString& shown = {}) {
    return runAs<CEditorPathDlg>([path, button, shown](CEditorPathDlg& dlg) {
        auto* edit = controlAs<QLineEdit>(dlg, IDC_EDITOR_PATH);
        QCOMPARE(edit->text(), shown);
        edit->selectAll();
        QTest::keyClicks(edit, path);
        QTest::mouseClick(control(dlg, button), Qt::LeftButton);
    });
}

// The main window: `look` at it, then press "&Close".
std::function<int(QDialog&)> closeWindow(std::function<void(CDiskwrightDlg&)> look = {}) {
    return runAs<CDiskwrightDlg>([look](CDiskwrightDlg& w) {
        if (look)
            look(w);
        QTest::mouseClick(control(w, IDCANCEL), Qt::LeftButton);
    });
}

// A start by the user that touches nothing outside the test.
int start(CDiskwrightApp& app, ScriptedPrompts& prompts, const QStringList& arguments = {}) {
    SettingsStore settings;
    return InitInstance(app, prompts, settings, arguments, StartupEnvironment{});
}

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
        QTest::addColumn<bool>("automation");
        QTest::newRow("none") << QStringList{} << "" << false;
        QTest::newRow("path") << QStringList{"/data/a.dsk"} << "/data/a.dsk" << false;
        QTest::newRow("first path wins") << QStringList{"a.dsk", "b.dsk"} << "a.dsk" << false;
        QTest::newRow("dash options") << QStringList{"-style", "-x", "a.dsk"} << "a.dsk" << false;
        QTest::newRow("automation words")
            << QStringList{"/Embedding", "/Automation", "/Unregserver", "/Regserver", "b.dsk"}
            << "b.dsk" << true;
        QTest::newRow("only a switch") << QStringList{"/Embedding"} << "" << true;
        QTest::newRow("dash switch") << QStringList{"a.dsk", "-automation"} << "a.dsk" << true;
        QTest::newRow("no automation") << QStringList{"/Unregserver", "-Regserver"} << "" << false;
        QTest::newRow("-Automation") << QStringList{"-Automation", "--x=1", "-?x"} << "" << true;
        QTest::newRow("-Embedding") << QStringList{"a.dsk", "-Embedding"} << "a.dsk" << true;
        QTest::newRow("/Automation") << QStringList{"/Automation"} << "" << true;
        QTest::newRow("other spelling is a path")
            << QStringList{"/embedding"} << "/embedding" << false;
        QTest::newRow("a folder named like a word")
            << QStringList{"/Automation/x.dsk"} << "/Automation/x.dsk" << false;
    }

    void imageArgument() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, image);
        QFETCH(bool, automation);
        QCOMPARE(CDiskwrightApp::imageArgument(arguments), image);
        QCOMPARE(CDiskwrightApp::IsAutomationStart(arguments), automation);
    }

    // Help needs no display; without one the window says so in one line.
    void programWithoutADisplay() {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", ":4711");
        program.setProcessEnvironment(environment);
        for (const char* argument : {"--help", "/Automation"}) {
            program.start(DW_WINDOW_PROGRAM, {argument});
            QVERIFY(program.waitForFinished(60000));
            const QString said = program.readAllStandardOutput() + program.readAllStandardError();
            const bool help = *argument == '-';
            QCOMPARE(program.exitCode(), help ? 0 : 1);
            const char* want =
                help ? "Usage: diskwright" : "diskwright: no display could be opened (";
            QVERIFY2(said.startsWith(want) && (help || said.count('\n') == 1), qPrintable(said));
        }
    }

    void commandLineImageOpensReadWrite() {
        const QFileInfo file(QString::fromStdString(oneFileImage()));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(file.absolutePath());
        ScriptedWindow s({"/Automation", file.fileName()});
        QDir::setCurrent(previous);

        QCOMPARE(s.dlg.windowTitle(), "Diskwright: " + file.fileName());
        QCOMPARE(lampOf(s.dlg), IDB_READ_WRITE);
        QCOMPARE(rowsOf(s.dlg), QStringList{"README|TXT| |2003-01-02|001-001|001-001|     1"});
        QCOMPARE(controlText(s.dlg, IDC_VOLUME_LABEL), QString("START [1]"));
        QVERIFY(imageButtonsEnabled(s.dlg));
        QCOMPARE(controlText(s.dlg, IDC_OPEN_DISK), QString("&Open Disk"));
        QCOMPARE(s.settings.get(Settings::DefaultDiskwrightDir), QString());
        QVERIFY(s.prompts.allShown());
    }

    void commandLineImageOpensReadOnly() {
        const QString path = QString::fromStdString(oneFileImage());
        ScriptedWindow s({path}, readOnlyOpener());
        QCOMPARE(lampOf(s.dlg), IDB_READ_ONLY);
        QVERIFY(s.dlg.IsReadOnly());
        QCOMPARE(rowsOf(s.dlg).size(), 1);
        QVERIFY(imageButtonsEnabled(s.dlg));
        QVERIFY(s.prompts.allShown());
    }

    void commandLineWithoutUsableImage() {
        {
            ScriptedWindow s;
            QCOMPARE(s.dlg.windowTitle(), QString("Diskwright: "));
            QVERIFY(!s.dlg.HasImage());
        }
        {
            // A file that cannot be opened: no message, the name in the title.
            ScriptedWindow s({"/no/such/image.dsk"});
            QCOMPARE(s.dlg.windowTitle(), QString("Diskwright: /no/such/image.dsk"));
            QCOMPARE(lampOf(s.dlg), IDB_NO_IMAGE);
            QVERIFY(rowsOf(s.dlg).isEmpty());
            QCOMPARE(controlText(s.dlg, IDC_FILE_COUNT), QString("    0"));
            QVERIFY(!imageButtonsEnabled(s.dlg));
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

    void firstStartAsksForTheEditorBeforeTheWindow_data() {
        QTest::addColumn<int>("button");
        QTest::newRow("OK") << IDOK;
        QTest::newRow("Cancel") << IDCANCEL;
    }

    void firstStartAsksForTheEditorBeforeTheWindow() {
        QFETCH(int, button);
        const QString image = QString::fromStdString(oneFileImage());
        const QString typed = "/usr/bin/vi";
        const QString stored = button == IDOK ? typed : QString();

        CDiskwrightApp app;
        ScriptedPrompts prompts;
        QStringList shown;
        prompts.expectDialog([&](QDialog& dlg) {
            shown << dlg.windowTitle();
            return answerEditorPrompt(typed, button)(dlg);
        });
        prompts.expectDialog(closeWindow([&](CDiskwrightDlg& w) {
            shown << w.windowTitle();
            // All six values are stored before the window runs.
            QSettings raw = rawSettings();
            raw.beginGroup("Diskwright");
            QCOMPARE(raw.childKeys().size(), 6);
            QCOMPARE(raw.value("EditorPath").toString(), stored);
            for (const char* on :
                 {"Add Line Feeds", "ExpandTabs", "Strip Line Feeds", "Compress Spaces"})
                QCOMPARE(raw.value(on).toInt(), 1);
            QCOMPARE(raw.value("Compact Binary").toInt(), 0);
            QCOMPARE(lampOf(w), IDB_READ_WRITE);
            QCOMPARE(rowsOf(w).size(), 1);
            const QList<QSize> sizes = w.windowIcon().availableSizes();
            QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(256, 256)));
        }));
        QCOMPARE(start(app, prompts, {image}), 0);
        QVERIFY(prompts.allShown());
        QCOMPARE(shown, QStringList({"Select Editor Program", "Diskwright: " + image}));
        QCOMPARE(app.m_strEditorPath, stored);
        QVERIFY(!QApplication::windowIcon().isNull());
        QCOMPARE(QGuiApplication::desktopFileName(), QString("diskwright"));

        // The prompt comes back at the next start only when it was cancelled.
        CDiskwrightApp next;
        ScriptedPrompts again;
        if (button == IDCANCEL)
            again.expectDialog(answerEditorPrompt({}, IDCANCEL));
        again.expectDialog(closeWindow());
        QCOMPARE(start(next, again), 0);
        QVERIFY(again.allShown());
        QCOMPARE(next.m_strEditorPath, stored);
    }

    void editorChangedWithTheButtonLastsOneRun() {
        SettingsStore().set(Settings::EditorPath, "/usr/bin/vi");
        CDiskwrightApp app;
        ScriptedPrompts prompts;
        prompts.expectDialog(closeWindow([&](CDiskwrightDlg& w) {
            prompts.expectDialog(answerEditorPrompt("/opt/ed", IDOK, "/usr/bin/vi"));
            QTest::mouseClick(control(w, IDC_EDITOR), Qt::LeftButton);
            QCOMPARE(app.m_strEditorPath, QString("/opt/ed"));

            prompts.expectDialog(answerEditorPrompt("/somewhere/else", IDCANCEL, "/opt/ed"));
            QTest::mouseClick(control(w, IDC_EDITOR), Qt::LeftButton);
            QCOMPARE(app.m_strEditorPath, QString("/opt/ed"));
        }));
        QCOMPARE(start(app, prompts), 0);
        QVERIFY(prompts.allShown());
        QCOMPARE(rawSettings().value("Diskwright/EditorPath").toString(), QString("/usr/bin/vi"));

        CDiskwrightApp restarted;
        ScriptedPrompts again;
        again.expectDialog(closeWindow());
        start(restarted, again);
        QVERIFY(again.allShown());
        QCOMPARE(restarted.m_strEditorPath, QString("/usr/bin/vi"));
    }

    void unwritableSettingsAreReportedOnce() {
        // A settings folder below a plain file can be written by nobody, root included.
        const QString blocker = QString::fromStdString(tempPath("blocker"));
        writeFileBytes(blocker.toStdString(), {'x'});
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker + "/settings");

        CDiskwrightApp app;
        ScriptedPrompts prompts;
        SettingsStore settings;
        prompts.expectDialog(answerEditorPrompt("vi", IDOK));
        prompts.expectMessage({"Unable to save the settings in " + settings.location(),
                               "goes on with the settings it read"});
        prompts.expectDialog(closeWindow([&](CDiskwrightDlg&) {
            QCOMPARE(app.m_strEditorPath, QString("vi"));
            QVERIFY(app.m_bAddLineFeeds && !app.m_bCompactBinary);
        }));
        QCOMPARE(InitInstance(app, prompts, settings, {}, StartupEnvironment{}), 0);
        QVERIFY(prompts.allShown());

        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QDir::tempPath() + "/settings-StartupTest");
    }

    void earlierActivationFileIsRemoved_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain path") << "/usr/bin/diskwright"
                                    << "/usr/bin/diskwright";
        QTest::newRow("path to quote") << "/opt/it's mine/diskwright"
                                       << "'/opt/it'\\''s mine/diskwright'";
    }

    // The file an earlier version wrote for this program goes at any start; nothing is written,
    // and a file naming another program stays.
    void earlierActivationFileIsRemoved() {
        QFETCH(QString, executable);
        QFETCH(QString, exec);
        SettingsStore().set(Settings::EditorPath, "vi");
        QTemporaryDir home;
        StartupEnvironment environment;
        environment.activationFolder = home.path() + "/dbus-1/services";
        environment.executable = executable;
        environment.bus = QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "no-bus");
        const QString file =
            environment.activationFolder + "/org.larkspurworkshop.Diskwright.service";
        const auto written = [&](const QString& program) {
            return "[D-BUS Service]\nName=org.larkspurworkshop.Diskwright\nExec=" + program +
                   " -Automation\n";
        };
        auto run = [&](const QStringList& arguments) {
            CDiskwrightApp app;
            ScriptedPrompts prompts; // no message: an automation start without a bus is silent
            SettingsStore settings;
            prompts.expectDialog(closeWindow());
            InitInstance(app, prompts, settings, arguments, environment);
            QVERIFY(prompts.allShown());
        };
        run({});
        QVERIFY(!QFileInfo::exists(environment.activationFolder));

        QVERIFY(QDir().mkpath(environment.activationFolder));
        for (const QStringList& arguments : {QStringList{}, QStringList{"-Automation"}}) {
            writeFileText(file.toStdString(), written(exec).toStdString());
            run(arguments);
            QVERIFY(!QFileInfo::exists(file));
        }
        writeFileText(file.toStdString(), written("/opt/other/diskwright").toStdString());
        run({});
        QCOMPARE(fileText(file), written("/opt/other/diskwright"));
    }

    void editorNamedWithoutFolderIsFoundOnPath() {
        // "touch" stands for an editor typed as "gedit".
        const QString file = QString::fromStdString(tempPath("touched"));
        QFile::remove(file);
        QString error;
        QVERIFY2(startEditor("touch", file, error), qPrintable(error));
        QTRY_VERIFY(QFile::exists(file));
    }
};

DW_UI_TEST_MAIN(StartupTest)
#include "StartupTest.moc"
