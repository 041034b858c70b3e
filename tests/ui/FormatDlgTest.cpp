#include "ui/FormatDlg.h"
#include "app/SettingsStore.h"
#include "engine/Create.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DialogUnits.h"
#include "ui/DiskwrightDlg.h"
#include "ui/ProgressDlg.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QtTest>

#include <sstream>

using namespace dwtest;

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

} // namespace

class FormatDlgTest : public QObject {
    Q_OBJECT
private slots:
    void init() { clearSettings(); }

    // Create Disk runs the dialog modally and leaves the main window as it was.
    void createDiskRunsTheDialog() {
        ScriptedWindow w;
        int shown = 0;
        w.prompts.expectDialog([&shown](QDialog& dialog) {
            shown = dialog.property(ControlIdProperty).toInt();
            return int{QDialog::Rejected};
        });
        w.press(IDC_CREATE_DISK);
        QCOMPARE(shown, IDD_FORMAT);
        QVERIFY(!w.dlg.HasImage());
    }

    // Places, texts and tab order of the template, and the first-use choices.
    void firstUse() {
        Dialog d;
        QCOMPARE(d.dlg.windowTitle(), QString("Format Virtual Floppy Diskette"));
        QCOMPARE(d.dlg.size(), DialogUnits(d.dlg.font()).size(179, 182));
        checkPlaces(d.dlg,
                    {{IDC_VOLUME_NAME, "", 65, 10, 107, 12},
                     {IDC_PROCESSOR_6800, "6800", 12, 27, 32, 10},
                     {IDC_PROCESSOR_6809, "6809", 12, 39, 32, 10},
                     {IDC_FLEX_FORMAT, "Flex Format", 62, 35, 52, 10},
                     {IDC_OS9_FORMAT, "OS9 Format", 116, 35, 53, 10},
                     {IDC_INCLUDE_BOOT_SECTOR, "Include Boot Sector", 12, 52, 79, 10},
                     {IDC_35_TRACK, "35 Track", 13, 71, 45, 10},
                     {IDC_40_TRACK, "40 Track", 13, 83, 45, 10},
                     {IDC_80_TRACK, "80 Track", 13, 96, 45, 10},
                     {IDC_USER_DEFINED, "User Defined", 13, 109, 57, 10},
                     {IDC_SINGLE_DENSITY, "Single Density", 95, 72, 61, 10},
                     {IDC_DOUBLE_DENSITY, "Double Density", 95, 84, 64, 10},
                     {IDC_QUAD_DENSITY, "Quad Density", 95, 96, 59, 10},
                     {IDC_DOUBLE_SIDED, "Double Sided", 95, 116, 59, 10},
                     {IDC_TRACKS, "", 58, 139, 23, 12},
                     {IDC_SECTORS, "", 122, 139, 23, 12},
                     {IDOK, "&Start", 63, 161, 50, 14},
                     {IDCANCEL, "&Close", 122, 161, 50, 14}},
                    /*tabOrder=*/true);
        const QList<int> checked{IDC_PROCESSOR_6809, IDC_FLEX_FORMAT,    IDC_INCLUDE_BOOT_SECTOR,
                                 IDC_80_TRACK,       IDC_DOUBLE_DENSITY, IDC_DOUBLE_SIDED};
        for (QAbstractButton* button : d.dlg.findChildren<QAbstractButton*>())
            QCOMPARE(button->isChecked(),
                     checked.contains(button->property(ControlIdProperty).toInt()));
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

    // Numbers that are negative, text, or too large never become a wrapped geometry; refused,
    // they are still stored for the next opening.
    void typedNumbers() {
        struct Case {
            const char* tracks;
            const char* sectors;
            bool os9;
            const char* message;
            const char* stored;
        };
        const Case cases[] = {
            {"257", "10", false, "Maximum Tracks Per Diskette is 256", "257/10"},
            {" \t-01x", "10", false, "Maximum Tracks Per Diskette is 256", "-1/10"},
            {"99999999999", "10", false, "Maximum Tracks Per Diskette is 256", "2147483647/10"},
            {"40", "128", false, "Maximum Sectors for Double Sided Diskette is 127", "40/128"},
            {"40", "-4000000000", false, "Maximum Sectors for Double Sided Diskette is 127",
             "40/-2147483648"},
            {"40", "129", true, "Maximum Sectors for Double Sided Diskette is 128", "40/129"},
            {"tracks", "10", false, "at least 2 tracks of 5 sectors", "0/10"},
            {"  +1x", "10", false, "at least 2 tracks of 5 sectors", "1/10"},
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
            QVERIFY(d.dlg.isEnabled());
            Dialog again;
            QVERIFY(again.checked(IDC_USER_DEFINED));
            QCOMPARE(again.boxes(), QString(c.stored));
        }
    }

    // The boot sector choice is stored at once and Close stores nothing else; Start stores the
    // rest, a preset's values becoming the next user-defined ones, but not the format.
    void choicesComeBackAtTheNextOpening() {
        {
            Dialog d;
            d.click(IDC_INCLUDE_BOOT_SECTOR);
            QCOMPARE(d.settings.get(Settings::IncludeBootSector), 0);
            QVERIFY(!d.button(IDC_PROCESSOR_6800)->isEnabled());
            QVERIFY(!d.button(IDC_PROCESSOR_6809)->isEnabled());
            d.click(IDC_35_TRACK);
            d.click(IDCANCEL);
        }
        {
            Dialog d;
            QVERIFY(!d.checked(IDC_INCLUDE_BOOT_SECTOR) && d.checked(IDC_80_TRACK));
            QVERIFY(!d.button(IDC_PROCESSOR_6809)->isEnabled());
            d.click(IDC_INCLUDE_BOOT_SECTOR);
            QCOMPARE(d.settings.get(Settings::IncludeBootSector), 1);
            QVERIFY(d.button(IDC_PROCESSOR_6809)->isEnabled());
            for (int id : {IDC_35_TRACK, IDC_SINGLE_DENSITY, IDC_PROCESSOR_6800, IDC_OS9_FORMAT})
                d.click(id);
            d.prompts.expectSaveFile({});
            d.click(IDOK);
        }
        Dialog d;
        QVERIFY(d.checked(IDC_35_TRACK) && d.checked(IDC_SINGLE_DENSITY));
        QVERIFY(d.checked(IDC_PROCESSOR_6800) && d.checked(IDC_FLEX_FORMAT));
        d.click(IDC_USER_DEFINED);
        QCOMPARE(d.boxes(), QString("35/10"));
    }

    void startMakesTheImage() {
        const QString folder = newFolder("start");
        Dialog d;
        d.edit(IDC_VOLUME_NAME)->setText("work disk 2025");
        d.click(IDC_35_TRACK);
        d.click(IDC_SINGLE_DENSITY);
        d.click(IDC_DOUBLE_SIDED);

        // Cancelled: no folder is stored.
        d.prompts.expectSaveFile({});
        d.click(IDOK);
        QVERIFY(d.settings.get(Settings::DefaultFormatDir).isEmpty());

        const QString target = folder + "/WORK DISK 2025.dsk";
        d.prompts.expectSaveFile(target);
        d.click(IDOK);
        QVERIFY(d.prompts.allShown());
        QCOMPARE(d.prompts.saveNames, QStringList({"WORK DISK 2025", "WORK DISK 2025"}));
        QCOMPARE(d.prompts.saveFolders, QStringList({"", ""}));
        QCOMPARE(d.settings.get(Settings::DefaultFormatDir), folder);
        QVERIFY(d.dlg.isEnabled());

        const dw::FormatParameters p{.tracks = 35,
                                     .sectorsPerSide = 10,
                                     .doubleSided = false,
                                     .singleDensity = true,
                                     .volumeName = "WORK DISK 2025"};
        std::ostringstream engine;
        dw::NullProgress none;
        dw::CreateBlankImage(p, engine, dw::currentLocalDate(), none);
        std::string expected = engine.str();
        QCOMPARE(expected.size(), std::size_t{89600});
        const std::vector<std::uint8_t> file = readFileBytes(target.toStdString());
        expected.replace(528 + 19, 3, reinterpret_cast<const char*>(&file[528 + 19]),
                         3); // the date
        QVERIFY(std::equal(file.begin(), file.end(), expected.begin(), expected.end(),
                           [](std::uint8_t a, char b) { return a == std::uint8_t(b); }));

        // OS9 keeps the name as typed; the next Save dialog starts in the stored folder.
        d.click(IDC_OS9_FORMAT);
        d.prompts.expectSaveFile(folder + "/os9.dsk");
        d.click(IDOK);
        QCOMPARE(d.prompts.saveNames.last(), QString("work disk 2025"));
        QCOMPARE(d.prompts.saveFolders.last(), folder);
        QCOMPARE(filesIn(folder), QStringList({"WORK DISK 2025.dsk", "os9.dsk"}));
    }

    // Cancel and a file that cannot be made leave nothing new, and an existing file as it was.
    void failuresKeepTheExistingFile() {
        const QString folder = newFolder("cancel");
        const QString target = folder + "/old.dsk";
        writeFileBytes(target.toStdString(), {7, 7, 7});
        Dialog d;
        d.click(IDC_USER_DEFINED);
        d.click(IDC_DOUBLE_SIDED);
        d.type("256", "255");
        CancelOnDisable canceller;
        d.dlg.installEventFilter(&canceller);
        d.prompts.expectSaveFile(target);
        d.click(IDOK); // no message for a Cancel
        d.dlg.removeEventFilter(&canceller);
        QVERIFY(d.dlg.isEnabled());
        QCOMPARE(filesIn(folder), QStringList({"old.dsk"}));
        QCOMPARE(readFileBytes(target.toStdString()), std::vector<std::uint8_t>({7, 7, 7}));

        // A regular file where the folder should be: not even root can create in it.
        const QString unwritable = target + "/new.dsk";
        d.prompts.expectSaveFile(unwritable);
        d.prompts.expectMessage({"Unable to create", unwritable});
        d.click(IDOK);
        QVERIFY(d.prompts.allShown());
        QCOMPARE(d.settings.get(Settings::DefaultFormatDir), target);
        QVERIFY(d.dlg.isEnabled());
        QCOMPARE(readFileBytes(target.toStdString()), std::vector<std::uint8_t>({7, 7, 7}));

        // The journal of the image that was replaced is set aside, and the user hears where.
        writeFileBytes(target.toStdString() + "-journal", {1, 2, 3});
        d.prompts.expectSaveFile(target);
        d.prompts.expectMessage({"belongs to the file it replaced", "old.dsk-journal.stale"});
        d.click(IDOK);
        QVERIFY(d.prompts.allShown());
        QCOMPARE(filesIn(folder), QStringList({"old.dsk", "old.dsk-journal.stale"}));
    }
};

DW_UI_TEST_MAIN(FormatDlgTest)
#include "FormatDlgTest.moc"
