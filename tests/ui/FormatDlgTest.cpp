#include "ui/FormatDlg.h"
#include "app/SettingsStore.h"
#include "engine/Create.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DialogUnits.h"
#include "ui/DiskwrightDlg.h"
#include "ui/ProgressDlg.h"
#include "ui/Startup.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QtTest>

#include <climits>
#include <filesystem>
#include <sstream>

using namespace dwtest;
namespace fs = std::filesystem;

namespace {

// The dialog as "Create Disk" opens it, its prompts answered from a script.
struct Dialog {
    Dialog() { dlg.OnInitDialog(); }
    ScriptedPrompts prompts;
    SettingsStore settings;
    CFormatDlg dlg{prompts, settings};

    QAbstractButton* button(int id) { return controlAs<QAbstractButton>(dlg, id); }
    QLineEdit* edit(int id) { return controlAs<QLineEdit>(dlg, id); }
    bool checked(int id) { return button(id)->isChecked(); }
    void click(int id) { button(id)->click(); }
    QString boxes() { return edit(IDC_TRACKS)->text() + "/" + edit(IDC_SECTORS)->text(); }
    void type(const QString& tracks, const QString& sectors) {
        edit(IDC_TRACKS)->setText(tracks);
        edit(IDC_SECTORS)->setText(sectors);
    }
};

// Cancels the write as soon as the progress window disables the dialog.
class CancelOnDisable : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && !static_cast<QWidget*>(watched)->isEnabled())
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* progress = qobject_cast<CProgressDlg*>(window))
                    controlAs<QAbstractButton>(*progress, IDCANCEL)->click();
        return false;
    }
};

QStringList filesIn(const fs::path& folder) {
    QStringList names;
    for (const auto& entry : fs::directory_iterator(folder))
        names << QString::fromStdString(entry.path().filename().string());
    names.sort();
    return names;
}

// A fresh, empty folder for one test.
fs::path freshFolder(const std::string& name) {
    const fs::path folder = tempPath(name);
    fs::create_directories(folder);
    return folder;
}

} // namespace

class FormatDlgTest : public QObject {
    Q_OBJECT
private slots:
    void init() { clearSettings(); }

    // Create Disk runs the dialog modally and leaves the main window as it was.
    void createDiskRunsTheDialog() {
        CDiskwrightApp app;
        ScriptedPrompts prompts;
        SettingsStore settings;
        auto window = makeMainWindow(app, prompts, settings, {});
        window->OnInitDialog();
        int shown = 0;
        prompts.expectDialog([&shown](QDialog& dialog) {
            shown = dialog.property(ControlIdProperty).toInt();
            return int{QDialog::Rejected};
        });
        QTest::mouseClick(control(*window, IDC_CREATE_DISK), Qt::LeftButton);
        QCOMPARE(shown, IDD_FORMAT);
        QVERIFY(!window->HasImage());
    }

    // Places, texts and tab order of the template, and the first-use choices.
    void firstUse() {
        Dialog d;
        QCOMPARE(d.dlg.windowTitle(), QString("Format Virtual Floppy Diskette"));
        const DialogUnits units(d.dlg.font());
        QCOMPARE(d.dlg.size(), units.size(179, 182));
        struct Place {
            int id, x, y, w, h;
            const char* text;
            bool checked;
        };
        const Place tabOrder[] = {
            {IDC_VOLUME_NAME, 65, 10, 107, 12, "", false},
            {IDC_PROCESSOR_6800, 12, 27, 32, 10, "6800", false},
            {IDC_PROCESSOR_6809, 12, 39, 32, 10, "6809", true},
            {IDC_FLEX_FORMAT, 62, 35, 52, 10, "Flex Format", true},
            {IDC_OS9_FORMAT, 116, 35, 53, 10, "OS9 Format", false},
            {IDC_INCLUDE_BOOT_SECTOR, 12, 52, 79, 10, "Include Boot Sector", true},
            {IDC_35_TRACK, 13, 71, 45, 10, "35 Track", false},
            {IDC_40_TRACK, 13, 83, 45, 10, "40 Track", false},
            {IDC_80_TRACK, 13, 96, 45, 10, "80 Track", true},
            {IDC_USER_DEFINED, 13, 109, 57, 10, "User Defined", false},
            {IDC_SINGLE_DENSITY, 95, 72, 61, 10, "Single Density", false},
            {IDC_DOUBLE_DENSITY, 95, 84, 64, 10, "Double Density", true},
            {IDC_QUAD_DENSITY, 95, 96, 59, 10, "Quad Density", false},
            {IDC_DOUBLE_SIDED, 95, 116, 59, 10, "Double Sided", true},
            {IDC_TRACKS, 58, 139, 23, 12, "", false},
            {IDC_SECTORS, 122, 139, 23, 12, "", false},
            {IDOK, 63, 161, 50, 14, "&Start", false},
            {IDCANCEL, 122, 161, 50, 14, "&Close", false},
        };
        for (std::size_t i = 0; i < std::size(tabOrder); ++i) {
            const Place& p = tabOrder[i];
            QWidget* widget = control(d.dlg, p.id);
            QCOMPARE(widget->geometry(), units.rect(p.x, p.y, p.w, p.h));
            QCOMPARE(controlText(d.dlg, p.id), QString(p.text));
            auto* button = qobject_cast<QAbstractButton*>(widget);
            QCOMPARE(button && button->isChecked(), p.checked);
            if (i == 0)
                continue;
            QWidget* next = control(d.dlg, tabOrder[i - 1].id)->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            QCOMPARE(next, widget);
        }
        QCOMPARE(d.boxes(), QString("80/18"));
        QVERIFY(d.edit(IDC_TRACKS)->isReadOnly() && d.edit(IDC_SECTORS)->isReadOnly());
        QVERIFY(d.button(IDC_PROCESSOR_6809)->isEnabled());

        // Each radio group on its own.
        for (int id : {IDC_PROCESSOR_6800, IDC_OS9_FORMAT, IDC_35_TRACK, IDC_QUAD_DENSITY})
            d.click(id);
        for (int id : {IDC_PROCESSOR_6809, IDC_FLEX_FORMAT, IDC_80_TRACK, IDC_DOUBLE_DENSITY})
            QVERIFY(!d.checked(id));
    }

    void densityFollowsThePreset() {
        Dialog d;
        d.click(IDC_35_TRACK);
        d.click(IDC_SINGLE_DENSITY);
        QCOMPARE(d.boxes(), QString("35/10"));
        d.click(IDC_QUAD_DENSITY);
        QCOMPARE(d.boxes(), QString("35/36"));
        d.click(IDC_40_TRACK);
        QCOMPARE(d.boxes(), QString("40/36"));

        d.click(IDC_USER_DEFINED);
        QCOMPARE(d.boxes(), QString("80/18")); // the stored user values
        QVERIFY(!d.edit(IDC_TRACKS)->isReadOnly() && !d.edit(IDC_SECTORS)->isReadOnly());
        d.type("77", "12");
        d.click(IDC_SINGLE_DENSITY);
        QCOMPARE(d.boxes(), QString("77/12"));
        d.click(IDC_80_TRACK);
        QCOMPARE(d.boxes(), QString("80/10"));
        QVERIFY(d.edit(IDC_TRACKS)->isReadOnly());
    }

    void refusedChoicesAreStoredFirst() {
        {
            Dialog d;
            d.click(IDC_USER_DEFINED);
            d.type("300", "20");
            d.prompts.expectMessage({"Maximum Tracks Per Diskette is 256"});
            d.click(IDOK);
            QVERIFY(d.prompts.allShown());
            QCOMPARE(d.settings.get(Settings::UserDefinedCylinders), 300);
            QCOMPARE(d.settings.get(Settings::UserDefinedSectors), 20);
            QVERIFY(d.dlg.isEnabled());
        }
        Dialog again;
        QVERIFY(again.checked(IDC_USER_DEFINED));
        QCOMPARE(again.boxes(), QString("300/20"));

        // A preset's values become the next user-defined ones; the processor comes back, the
        // format does not.
        again.click(IDC_80_TRACK);
        again.click(IDC_PROCESSOR_6800);
        again.click(IDC_OS9_FORMAT);
        again.prompts.expectSaveFile({});
        again.click(IDOK);
        QCOMPARE(again.settings.get(Settings::UserDefinedCylinders), 80);
        QCOMPARE(again.settings.get(Settings::UserDefinedSectors), 18);
        Dialog third;
        QVERIFY(third.checked(IDC_80_TRACK) && third.checked(IDC_PROCESSOR_6800));
        QVERIFY(third.checked(IDC_FLEX_FORMAT));
    }

    // Numbers that are negative, text, or too large never become a wrapped geometry.
    void typedNumbers() {
        struct Case {
            const char* tracks;
            const char* sectors;
            bool os9;
            const char* message;
            int storedTracks;
        };
        const Case cases[] = {
            {"257", "10", false, "Maximum Tracks Per Diskette is 256", 257},
            {" \t-01x", "10", false, "Maximum Tracks Per Diskette is 256", -1},
            {"99999999999", "10", false, "Maximum Tracks Per Diskette is 256", INT_MAX},
            {"40", "128", false, "Maximum Sectors for Double Sided Diskette is 127", 40},
            {"40", "-4000000000", false, "Maximum Sectors for Double Sided Diskette is 127", 40},
            {"40", "129", true, "Maximum Sectors for Double Sided Diskette is 128", 40},
            {"tracks", "10", false, "at least 2 tracks of 5 sectors", 0},
            {"  +1x", "10", false, "at least 2 tracks of 5 sectors", 1},
        };
        for (const Case& c : cases) {
            Dialog d;
            d.click(IDC_USER_DEFINED);
            if (c.os9)
                d.click(IDC_OS9_FORMAT);
            d.type(c.tracks, c.sectors);
            d.prompts.expectMessage({c.message});
            d.click(IDOK);
            QVERIFY2(d.prompts.allShown(), c.tracks);
            QCOMPARE(d.settings.get(Settings::UserDefinedCylinders), c.storedTracks);
        }
    }

    void bootSectorChoiceIsStoredAtOnce() {
        {
            Dialog d;
            d.click(IDC_INCLUDE_BOOT_SECTOR);
            QCOMPARE(d.settings.get(Settings::IncludeBootSector), 0);
            QVERIFY(!d.button(IDC_PROCESSOR_6800)->isEnabled());
            QVERIFY(!d.button(IDC_PROCESSOR_6809)->isEnabled());
            d.click(IDC_35_TRACK);
            d.click(IDCANCEL); // Close stores nothing else
        }
        Dialog again;
        QVERIFY(!again.checked(IDC_INCLUDE_BOOT_SECTOR));
        QVERIFY(!again.button(IDC_PROCESSOR_6809)->isEnabled());
        QVERIFY(again.checked(IDC_80_TRACK));
        again.click(IDC_INCLUDE_BOOT_SECTOR);
        QCOMPARE(again.settings.get(Settings::IncludeBootSector), 1);
        QVERIFY(again.button(IDC_PROCESSOR_6809)->isEnabled());
    }

    void startMakesTheImage() {
        const fs::path folder = freshFolder("start");
        const QString folderText = QString::fromStdString(folder.string());
        Dialog d;
        d.edit(IDC_VOLUME_NAME)->setText("work disk 2025");
        d.click(IDC_35_TRACK);
        d.click(IDC_SINGLE_DENSITY);
        d.click(IDC_DOUBLE_SIDED);

        // Cancelled: no folder is stored.
        d.prompts.expectSaveFile({});
        d.click(IDOK);
        QVERIFY(d.settings.get(Settings::DefaultFormatDir).isEmpty());

        const fs::path target = folder / "WORK DISK 2025.dsk";
        d.prompts.expectSaveFile(QString::fromStdString(target.string()));
        d.click(IDOK);
        QVERIFY(d.prompts.allShown());
        QCOMPARE(d.prompts.saveNames, QStringList({"WORK DISK 2025", "WORK DISK 2025"}));
        QCOMPARE(d.prompts.saveFolders, QStringList({"", ""}));
        QCOMPARE(d.settings.get(Settings::DefaultFormatDir), folderText);
        QVERIFY(d.dlg.isEnabled());

        dw::FormatParameters p;
        p.tracks = 35;
        p.sectorsPerSide = 10;
        p.doubleSided = false;
        p.singleDensity = true;
        p.volumeName = "WORK DISK 2025";
        std::ostringstream engine;
        dw::NullProgress none;
        dw::CreateBlankImage(p, engine, dw::currentLocalDate(), none);
        std::string expected = engine.str();
        QCOMPARE(expected.size(), std::size_t{89600});
        const std::vector<std::uint8_t> file = readFileBytes(target.string());
        expected.replace(528 + 19, 3, reinterpret_cast<const char*>(&file[528 + 19]),
                         3); // the date
        QVERIFY(std::equal(file.begin(), file.end(), expected.begin(), expected.end(),
                           [](std::uint8_t a, char b) { return a == std::uint8_t(b); }));

        // OS9 keeps the name as typed; the next Save dialog starts in the stored folder.
        d.click(IDC_OS9_FORMAT);
        d.prompts.expectSaveFile(QString::fromStdString((folder / "os9.dsk").string()));
        d.click(IDOK);
        QCOMPARE(d.prompts.saveNames.last(), QString("work disk 2025"));
        QCOMPARE(d.prompts.saveFolders.last(), folderText);
        QCOMPARE(filesIn(folder), QStringList({"WORK DISK 2025.dsk", "os9.dsk"}));
    }

    // Cancel and a file that cannot be made leave nothing new, and an existing file as it was.
    void failuresKeepTheExistingFile() {
        const fs::path folder = freshFolder("cancel");
        const fs::path target = folder / "old.dsk";
        writeFileBytes(target.string(), {7, 7, 7});
        Dialog d;
        d.click(IDC_USER_DEFINED);
        d.click(IDC_DOUBLE_SIDED);
        d.type("256", "255");
        CancelOnDisable canceller;
        d.dlg.installEventFilter(&canceller);
        d.prompts.expectSaveFile(QString::fromStdString(target.string()));
        d.click(IDOK); // no message for a Cancel
        d.dlg.removeEventFilter(&canceller);
        QVERIFY(d.dlg.isEnabled());
        QCOMPARE(filesIn(folder), QStringList({"old.dsk"}));
        QCOMPARE(readFileBytes(target.string()), std::vector<std::uint8_t>({7, 7, 7}));

        // A regular file where the folder should be: not even root can create in it.
        const QString unwritable = QString::fromStdString((target / "new.dsk").string());
        d.prompts.expectSaveFile(unwritable);
        d.prompts.expectMessage({"Unable to create", unwritable});
        d.click(IDOK);
        QVERIFY(d.prompts.allShown());
        QCOMPARE(d.settings.get(Settings::DefaultFormatDir),
                 QString::fromStdString(target.string()));
        QVERIFY(d.dlg.isEnabled());
        QCOMPARE(readFileBytes(target.string()), std::vector<std::uint8_t>({7, 7, 7}));
    }
};

DW_UI_TEST_MAIN(FormatDlgTest)
#include "FormatDlgTest.moc"
