#include "app/SettingsStore.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/AboutDlg.h"
#include "ui/DialogUnits.h"
#include "ui/DiskwrightDlg.h"
#include "ui/ListCtrlEx.h"
#include "ui/Startup.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace dwtest;

namespace {

// A window as the program makes it, with its prompts answered from a script.
struct Window : ScriptedWindow {
    explicit Window(const ImageOpener& opener = defaultImageOpener())
        : ScriptedWindow({}, opener) {}

    // Presses Open Disk and chooses `path`; `message` lists the parts of the message expected.
    void open(const QString& path, const QStringList& message = {}) {
        prompts.expectOpenFile(path);
        if (!message.isEmpty())
            prompts.expectMessage(message);
        QTest::mouseClick(control(dlg, IDC_OPEN_DISK), Qt::LeftButton);
    }
};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// SYSTEM [7], two files: a text file in one sector and a random file in three.
std::string twoFileImage(const std::string& name = "two.dsk") {
    ImageBuilder b = ImageBuilder::formatted(35, 10, "SYSTEM");
    b.addFile("HELLO", "TXT", std::vector<std::uint8_t>(100, 'a'));
    b.addFile("BIGFILE", "BIN", std::vector<std::uint8_t>(600, 0x5A), true);
    SirSpec sir;
    sir.label = "SYSTEM";
    sir.volumeNumber = 7;
    sir.firstFree = {1, 5};
    sir.lastFree = {34, 10};
    sir.freeCount = 0x0100;
    sir.month = 12, sir.day = 31, sir.year = 99;
    b.sir(sir);
    return b.save(tempPath(name));
}

const QStringList TwoFileRows{
    "HELLO|TXT| |2003-01-02|001-001|001-001|     1",
    "BIGFILE|BIN|Y|2003-01-02|001-002|001-004|     3",
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { clearSettings(); }

    void startsWithoutImage() {
        Window w;
        QCOMPARE(w.dlg.windowTitle(), QString("Diskwright: "));
        QCOMPARE(lampOf(w.dlg), IDB_NO_IMAGE);
        QCOMPARE(controlText(w.dlg, IDC_FILE_COUNT), QString("    0"));
        for (int id : {IDC_VOLUME_LABEL, IDC_CREATION_DATE, IDC_REMAINING_SECTORS})
            QCOMPARE(controlText(w.dlg, id), QString());
        QVERIFY(!imageButtonsEnabled(w.dlg));
        for (int id : {IDC_OPEN_DISK, IDC_CREATE_DISK, IDC_EDITOR, IDC_OPTIONS, IDCANCEL})
            QVERIFY(control(w.dlg, id)->isEnabled());
        QCOMPARE(controlText(w.dlg, IDC_OPEN_DISK), QString("&Open Disk"));

        auto* list = controlAs<CListCtrlEx>(w.dlg, IDC_FILE_LIST);
        QCOMPARE(list->GetItemCount(), 0);
        QVERIFY(list->IsFullRowSelect() && list->IsShowSelectionAlways());
        const QStringList titles{"FileName  ", "Ext  ",     "R",    "Date",
                                 "Start    ",  "End      ", "Count"};
        const QList<int> widths{80, 39, 20, 90, 53, 53, 50};
        const QStringList samples{"", "", "Y", "0000-00-00", "000-000", "000-000", "000000"};
        QCOMPARE(list->columnCount(), 7);
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(list->headerItem()->text(c), titles[c]);
            // Wider only where this system's font needs it for the fixed-form texts.
            QVERIFY(list->columnWidth(c) >= widths[c]);
            QVERIFY(c < 2 || list->columnWidth(c) == widths[c] ||
                    list->columnWidth(c) == list->WidthToShow(samples[c]));
        }
        QVERIFY(w.prompts.allShown());
    }

    void layoutFollowsTemplate() {
        Window w;
        const DialogUnits units(w.dlg.font());
        QVERIFY(units.baseWidth() >= 4 && units.baseWidth() <= 12);
        QVERIFY(units.baseHeight() >= 8 && units.baseHeight() <= 24);
        QCOMPARE(w.dlg.size(), units.size(346, 223));

        checkPlaces(w.dlg, {{IDC_OPEN_DISK, "&Open Disk", 288, 51, 50, 14},
                            {IDC_CREATE_DISK, "Cre&ate Disk", 288, 68, 50, 14},
                            {IDC_EDITOR, "Edito&r", 289, 128, 50, 14},
                            {IDC_OPTIONS, "&Options", 289, 145, 50, 14},
                            {IDC_IMPORT, "&Import", 289, 169, 50, 14},
                            {IDC_EXPORT, "&Export", 289, 185, 50, 14},
                            {IDC_DELETE, "&Delete", 289, 202, 50, 14},
                            {IDCANCEL, "&Close", 288, 11, 50, 14},
                            {IDC_REFRESH, "&Refresh", 289, 97, 50, 14},
                            {IDC_VOLUME_LABEL, "", 76, 18, 93, 8},
                            {IDC_FILE_COUNT, "    0", 239, 18, 33, 8}});
        QCOMPARE(control(w.dlg, IDC_FILE_LIST)->geometry(), units.rect(7, 51, 273, 165));
        QCOMPARE(control(w.dlg, IDC_STATUS_LAMP)->geometry(),
                 QRect(units.rect(287, 33, 10, 9).topLeft(), QSize(15, 15)));
        QVERIFY(controlAs<QPushButton>(w.dlg, IDC_OPEN_DISK)->isDefault());

        QStringList captions;
        for (QLabel* label : w.dlg.findChildren<QLabel*>())
            if (label->property(ControlIdProperty).toInt() == IDC_STATIC)
                captions << label->text();
        captions.sort();
        QCOMPARE(captions,
                 QStringList({"Creation Date", "File Count", "Remaining Sectors", "Volume Label"}));
    }

    void opensReadWriteAndStoresFolder() {
        const std::string path = twoFileImage();
        const auto before = readFileBytes(path);
        Window w;
        w.open(q(path));
        QCOMPARE(w.dlg.windowTitle(), "Diskwright: " + q(path));
        QCOMPARE(lampOf(w.dlg), IDB_READ_WRITE);
        QVERIFY(!w.dlg.IsReadOnly());
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QCOMPARE(controlText(w.dlg, IDC_VOLUME_LABEL), QString("SYSTEM [7]"));
        QCOMPARE(controlText(w.dlg, IDC_CREATION_DATE), QString("1999-12-31"));
        QCOMPARE(controlText(w.dlg, IDC_REMAINING_SECTORS), QString("   256"));
        QCOMPARE(controlText(w.dlg, IDC_FILE_COUNT), QString("    2"));
        QCOMPARE(w.dlg.VolumeNumber(), 7);
        QCOMPARE(w.dlg.FreeSectors(), 256);
        QVERIFY(imageButtonsEnabled(w.dlg));
        QCOMPARE(controlText(w.dlg, IDC_OPEN_DISK), QString("C&hange Disk"));
        QVERIFY(readFileBytes(path) == before);

        // The folder is stored without its trailing "/" and offered by the next Open dialog.
        const QString folder = q(path).left(q(path).lastIndexOf('/'));
        QCOMPARE(w.settings.get(Settings::DefaultDiskwrightDir), folder);
        QCOMPARE(w.prompts.openFolders, QStringList{""});
        w.prompts.expectOpenFile("");
        QCOMPARE(w.dlg.OpenDisk(), IDCANCEL);
        QCOMPARE(w.prompts.openFolders.last(), folder);
        QVERIFY(w.prompts.allShown());
    }

    void folderOfChosenPath() {
        QCOMPARE(folderOf("/home/ann/images/work.dsk"), QString("/home/ann/images"));
        QCOMPARE(folderOf("/work.dsk"), QString("/"));
        QCOMPARE(folderOf("work.dsk"), QString());
    }

    void opensReadOnly() {
        const std::string path = twoFileImage();
        Window w(readOnlyOpener());
        w.open(q(path));
        QCOMPARE(lampOf(w.dlg), IDB_READ_ONLY);
        QVERIFY(w.dlg.IsReadOnly());
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QVERIFY(imageButtonsEnabled(w.dlg));

        // A write-protected file, for the superuser too.
        const std::string locked = twoFileImage("locked.dsk");
        QCOMPARE(::chmod(locked.c_str(), 0444), 0);
        Window plain;
        plain.open(q(locked));
        QCOMPARE(lampOf(plain.dlg), IDB_READ_ONLY);
        QCOMPARE(rowsOf(plain.dlg), TwoFileRows);
        QVERIFY(w.prompts.allShown());
    }

    void cancelKeepsTheListedImage() {
        Window w;
        w.prompts.expectOpenFile("");
        QCOMPARE(w.dlg.OpenDisk(), IDCANCEL);
        QCOMPARE(w.dlg.windowTitle(), QString("Diskwright: "));
        QVERIFY(!w.dlg.HasImage());

        const std::string path = twoFileImage();
        w.open(q(path));
        w.open("");
        QCOMPARE(w.dlg.windowTitle(), "Diskwright: " + q(path));
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QCOMPARE(lampOf(w.dlg), IDB_READ_WRITE);
        QCOMPARE(controlText(w.dlg, IDC_OPEN_DISK), QString("C&hange Disk"));
        QVERIFY(w.prompts.allShown());
    }

    void failedOpenKeepsTheListedImage() {
        const std::string path = twoFileImage();
        Window w;
        w.open(q(path));

        // Stored before the open is tried; a file in the root keeps "/" as its folder.
        const QString missing = "/diskwright-no-such-image.dsk";
        w.open(missing, {missing, "stays open"});
        QCOMPARE(w.settings.get(Settings::DefaultDiskwrightDir), QString("/"));
        QCOMPARE(lampOf(w.dlg), IDB_NO_IMAGE);
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QVERIFY(imageButtonsEnabled(w.dlg));
        QCOMPARE(controlText(w.dlg, IDC_OPEN_DISK), QString("C&hange Disk"));
        QCOMPARE(w.dlg.windowTitle(), "Diskwright: " + q(path));

        // It is still the open image.
        QTest::mouseClick(control(w.dlg, IDC_REFRESH), Qt::LeftButton);
        QCOMPARE(lampOf(w.dlg), IDB_READ_WRITE);
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QVERIFY(w.prompts.allShown());
    }

    void unusableImageIsRefused_data() {
        QTest::addColumn<int>("maxSector");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("month"); // of the creation date
        QTest::newRow("no sectors per track") << 0 << 35 * 10 * 256 << "0 sectors per track" << 3;
        QTest::newRow("shorter than the SIR") << 10 << 300 << "too short" << 3;
        QTest::newRow("shorter than sector 5") << 10 << 1000 << "too short" << 3;
        QTest::newRow("another system's disk") << 10 << 35 * 10 * 256 - 100 << "is no date" << 67;
    }

    void unusableImageIsRefused() {
        QFETCH(int, maxSector);
        QFETCH(int, length);
        QFETCH(QString, reason);
        QFETCH(int, month);
        ImageBuilder b = ImageBuilder::formatted(35, 10);
        b.bytes()[528 + 23] = static_cast<std::uint8_t>(maxSector);
        b.bytes()[528 + 19] = static_cast<std::uint8_t>(month);
        b.bytes().resize(static_cast<std::size_t>(length));
        const std::string bad = b.save(tempPath("bad.dsk"));
        const auto before = readFileBytes(bad);

        Window w;
        w.open(q(bad), {q(bad), reason, "No disk image was opened"});
        QVERIFY(!w.dlg.HasImage());
        QVERIFY(!imageButtonsEnabled(w.dlg));
        QCOMPARE(w.dlg.windowTitle(), QString("Diskwright: "));

        const std::string good = twoFileImage();
        w.open(q(good));
        w.open(q(bad), {q(bad), reason, "stays open"});
        QCOMPARE(lampOf(w.dlg), IDB_NO_IMAGE);
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QCOMPARE(w.dlg.windowTitle(), "Diskwright: " + q(good));
        QTest::mouseClick(control(w.dlg, IDC_REFRESH), Qt::LeftButton);
        QCOMPARE(rowsOf(w.dlg), TwoFileRows);
        QVERIFY(readFileBytes(bad) == before);
        QVERIFY(w.prompts.allShown());
    }

    void damagedDirectoryKeepsTheRowsFound_data() {
        QTest::addColumn<int>("linkTrack");
        QTest::addColumn<int>("linkSector");
        QTest::addColumn<QString>("where");
        QTest::newRow("loop back to sector 5") << 0 << 5 << "000-005";
        QTest::newRow("link past the end") << 40 << 1 << "040-001";
        QTest::newRow("sector above maxSector") << 0 << 11 << "000-011";
    }

    void damagedDirectoryKeepsTheRowsFound() {
        QFETCH(int, linkTrack);
        QFETCH(int, linkSector);
        QFETCH(QString, where);
        ImageBuilder b = ImageBuilder::formatted(35, 10);
        for (int k = 0; k < 10; ++k)
            b.entry({0, 5}, k, {"A" + std::to_string(k), "TXT"});
        b.entry({0, 6}, 0, {"B0", "CMD"});
        b.entry({0, 6}, 1, {"B1", "CMD"});
        b.rawEntry({0, 6}, 2, {0xFF, 'G', 'O', 'N', 'E'});
        for (int k = 3; k < 10; ++k)
            b.entry({0, 6}, k, {"C" + std::to_string(k), "CMD"});
        b.setLink({0, 6}, {linkTrack, linkSector});
        const std::string path = b.save(tempPath("damaged.dsk"));
        const auto before = readFileBytes(path);

        Window w;
        w.open(q(path), {"damaged", where, "listed"});
        QCOMPARE(rowsOf(w.dlg).size(), 19);
        QVERIFY(rowsOf(w.dlg).last().startsWith("C9|CMD|"));
        QCOMPARE(controlText(w.dlg, IDC_FILE_COUNT), QString("   19"));
        QCOMPARE(lampOf(w.dlg), IDB_READ_WRITE);
        QCOMPARE(w.dlg.windowTitle(), "Diskwright: " + q(path));

        w.prompts.expectMessage({"damaged", where});
        QCOMPARE(w.dlg.ReadDirectory(), 19);
        QVERIFY(readFileBytes(path) == before);
        QVERIFY(w.prompts.allShown());
    }

    void refreshShowsChangesByAnotherProgram() {
        const std::string path = twoFileImage();
        Window w;
        w.open(q(path));

        ImageBuilder b = ImageBuilder::formatted(35, 10, "NEWLABEL");
        b.addFile("ONE", "TXT", std::vector<std::uint8_t>(10, 'x'));
        b.addFile("TWO", "TXT", std::vector<std::uint8_t>(300, 'y'));
        b.addFile("THREE", "", {});
        writeFileBytes(path, b.bytes());
        QTest::mouseClick(control(w.dlg, IDC_REFRESH), Qt::LeftButton);
        QCOMPARE(rowsOf(w.dlg).size(), 3);
        QCOMPARE(rowsOf(w.dlg)[2], QString("THREE|| |2003-01-02|000-000|000-000|     0"));
        QCOMPARE(controlText(w.dlg, IDC_VOLUME_LABEL), QString("NEWLABEL [1]"));
        QCOMPARE(controlText(w.dlg, IDC_FILE_COUNT), QString("    3"));
        QCOMPARE(w.dlg.FreeSectors(), 34 * 10 - 3);

        // Cut short by the other program: nothing of it can be listed any more.
        writeFileBytes(path, std::vector<std::uint8_t>(500, 0));
        w.prompts.expectMessage({"too short", "No files are listed"});
        QCOMPARE(w.dlg.ReadDirectory(), 0);
        QVERIFY(rowsOf(w.dlg).isEmpty());
        QCOMPARE(controlText(w.dlg, IDC_FILE_COUNT), QString("    0"));
        QVERIFY(imageButtonsEnabled(w.dlg));
        QVERIFY(w.prompts.allShown());
    }

    void listKeepsDirectoryOrder() {
        ImageBuilder b = ImageBuilder::formatted(35, 10);
        b.addFile("ZED", "TXT", {1});
        b.addFile("ALPHA", "TXT", {2});
        b.addFile("MIDDLE", "TXT", {3});
        const std::string path = b.save(tempPath("order.dsk"));
        Window w;
        w.open(q(path));
        w.dlg.show();
        auto* list = controlAs<CListCtrlEx>(w.dlg, IDC_FILE_LIST);
        QVERIFY(!list->isSortingEnabled());
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionPosition(0) + 5, header->height() / 2));
        QStringList names;
        for (int row = 0; row < list->GetItemCount(); ++row)
            names << list->GetItemText(row, 0);
        QCOMPARE(names, QStringList({"ZED", "ALPHA", "MIDDLE"}));

        QCOMPARE(w.dlg.GetFirstSelectedItem(), -1);
        list->SelectRow(2, true);
        list->SelectRow(1, true);
        QCOMPARE(w.dlg.GetFirstSelectedItem(), 1);
        QVERIFY(w.dlg.IsItemSelected(2));
        QVERIFY(!w.dlg.IsItemSelected(0));
        QVERIFY(!w.dlg.IsItemSelected(3));
        QVERIFY(!w.dlg.IsItemSelected(-1));
        QVERIFY(w.prompts.allShown());
    }

    void aboutBoxFromF1AndContextMenu() {
        Window w;
        QCOMPARE(w.dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
        QAction* about = nullptr;
        for (QAction* action : w.dlg.actions())
            if (action->text() == "&About Diskwright...")
                about = action;
        QVERIFY(about);
        QCOMPARE(about->shortcut(), QKeySequence(Qt::Key_F1));

        auto expectAbout = [&] {
            w.prompts.expectDialog([](QDialog& dialog) {
                [&] {
                    QVERIFY(qobject_cast<CAboutDlg*>(&dialog));
                    QCOMPARE(dialog.windowTitle(), QString("About Diskwright"));
                }();
                return int(QDialog::Accepted);
            });
        };
        expectAbout();
        about->trigger();
        QVERIFY(w.prompts.allShown());

        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
        expectAbout();
        QTest::keyClick(&w.dlg, Qt::Key_F1);
        QVERIFY(w.prompts.allShown());
    }

    // The template's size is the least; a larger one comes back at the next start.
    void sizeKeptAcrossACloseByEscape() {
        auto w = std::make_unique<Window>();
        QCOMPARE(w->dlg.minimumSize(), DialogUnits(w->dlg.font()).size(346, 223));
        w->dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&w->dlg));
        const QSize larger = w->dlg.size() + QSize(100, 120);
        w->dlg.resize(larger);
        QTest::keyClick(&w->dlg, Qt::Key_Escape);
        w = std::make_unique<Window>();
        QCOMPARE(w->dlg.size(), larger);
    }

    void closeButtonEscapeAndCloseBoxEndTheWindow() {
        {
            Window w;
            w.dlg.show();
            QTest::mouseClick(control(w.dlg, IDCANCEL), Qt::LeftButton);
            QVERIFY(!w.dlg.isVisible());
            QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
        }
        {
            Window w;
            w.dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
            QTest::keyClick(&w.dlg, Qt::Key_Escape);
            QVERIFY(!w.dlg.isVisible());
        }
        {
            Window w;
            w.dlg.show();
            QVERIFY(w.dlg.close());
            QVERIFY(!w.dlg.isVisible());
            QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
        }
    }
};

DW_UI_TEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
