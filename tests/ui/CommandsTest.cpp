#include "engine/Check.h"
#include "engine/FilePack.h"
#include "engine/Import.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/FilespecDlg.h"
#include "ui/ListCtrlEx.h"

#include <QLineEdit>
#include <QMimeData>
#include <QtTest>

#include <numeric>

using namespace dwtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int Spt = 10;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
Bytes bytesOf(const char* text) {
    return Bytes(text, text + std::strlen(text));
}

// HELLO.TXT (text, one sector), BIN.BIN (binary, two), THREE.TXT (text, three), LAST.DAT;
// 33 sectors stay free.
const Bytes Hello{'A', 'B', 0x09, 0x03, 'C', 0x0D};
std::string fourFileImage() {
    ImageBuilder b = ImageBuilder::formatted(5, Spt);
    b.addFile("HELLO", "TXT", Hello);
    b.addFile("BIN", "BIN", Bytes(300, 0x02));
    b.addFile("THREE", "TXT", Bytes(700, 'x'));
    b.addFile("LAST", "DAT", Bytes(10, 'l'));
    return b.save(tempPath("commands.dsk"));
}

// The image's bytes read back without the engine.
struct Disk {
    Bytes b;
    explicit Disk(const std::string& path) : b(readFileBytes(path)) {}
    const std::uint8_t* at(Link l) const {
        return &b[std::size_t(l.track * Spt + l.sector - 1) * 256];
    }
    static Link link(const std::uint8_t* p) { return {p[0], p[1]}; }
    const std::uint8_t* sir() const { return &b[528]; }
    int freeCount() const { return sir()[17] << 8 | sir()[18]; }
    const std::uint8_t* slot(int i) const { return &b[4 * 256 + 16 + 24 * std::size_t(i)]; }
    // The 252-byte payloads of a slot's chain.
    Bytes data(int i) const {
        Bytes out;
        Link l = link(slot(i) + 13);
        for (int n = slot(i)[17] << 8 | slot(i)[18]; n > 0; --n, l = link(at(l)))
            out.insert(out.end(), at(l) + 4, at(l) + 256);
        return out;
    }
    std::string name(int i) const {
        return std::string(reinterpret_cast<const char*>(slot(i)), 11);
    }
};

bool consistent(const std::string& path) {
    std::unique_ptr<dw::DiskImage> image;
    if (!dw::DiskImage::openReadOnly(path, image).ok())
        return false;
    const dw::CheckReport report = dw::checkImage(*image);
    for (const std::string& finding : report.findings)
        qWarning("%s", finding.c_str());
    return report.clean();
}

Bytes padded(Bytes bytes, std::size_t size) {
    bytes.resize(size, 0);
    return bytes;
}

// The window on `image`, without the compaction warning unless a test asks for it.
struct Window : ScriptedWindow {
    explicit Window(const std::string& image, const ImageOpener& opener = defaultImageOpener())
        : ScriptedWindow({q(image)}, opener) {
        app.m_bCompressSpaces = false;
    }
    CListCtrlEx* list() { return controlAs<CListCtrlEx>(dlg, IDC_FILE_LIST); }
    void select(const QList<int>& rows) {
        for (int row = 0; row < list()->GetItemCount(); ++row)
            list()->SelectRow(row, rows.contains(row));
    }
};

// Answers the 8.3 dialog: checks its preset, types `answer` into the edit and presses a button.
std::function<int(QDialog&)> nameDialog(const QString& preset, const QString& answer, int button) {
    return [=](QDialog& dialog) {
        auto* edit = controlAs<QLineEdit>(dialog, IDC_FILESPEC);
        [&] {
            QCOMPARE(dialog.windowTitle(), QString("Get a Valid 8.3 Filespec"));
            QCOMPARE(edit->text(), preset);
            QCOMPARE(edit->maxLength(), 12);
        }();
        edit->clear();
        QTest::keyClicks(edit, answer);
        QTest::mouseClick(control(dialog, button), Qt::LeftButton);
        return dialog.result();
    };
}

// Drops `data` onto the list: taken, nothing asked inside the drop, the expected prompts after.
bool dropOn(Window& w, const QMimeData& data) {
    const QPoint at = w.list()->viewport()->rect().center();
    const auto asked = w.prompts.messages.size() + w.prompts.questions.size();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(w.list()->viewport(), &enter);
    QApplication::sendEvent(w.list()->viewport(), &drop);
    const bool quiet = w.prompts.messages.size() + w.prompts.questions.size() == asked;
    QCoreApplication::processEvents();
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() == Qt::CopyAction &&
           quiet && w.prompts.allShown();
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { clearSettings(); }

    void deleteRows() {
        struct Case {
            QList<int> rows;
            bool yes;
            QList<int> gone;
        };
        const Case cases[] = {
            {{1}, true, {1}}, {{0, 2, 3}, true, {0, 2, 3}}, {{0, 2}, false, {}}, {{}, true, {}}};
        for (const Case& c : cases) {
            const std::string path = fourFileImage();
            const Disk before(path);
            Window w(path);
            w.select(c.rows);
            w.prompts.expectYesNo(c.yes);
            w.press(IDC_DELETE);
            QCOMPARE(w.prompts.questions, QStringList{"Are you sure?"});
            const Disk after(path);
            if (c.gone.isEmpty()) {
                QVERIFY(before.b == after.b);
                continue;
            }
            int freed = 0;
            for (int slot = 0; slot < 4; ++slot) {
                const bool gone = c.gone.contains(slot);
                QCOMPARE(after.slot(slot)[0], gone ? 0xFF : before.slot(slot)[0]);
                freed += gone ? before.slot(slot)[18] : 0;
            }
            // The free chain grew at its tail by each file in turn, ending at the last one.
            const std::uint8_t* oldLast = after.at(Disk::link(before.sir() + 15));
            QVERIFY(std::equal(oldLast, oldLast + 2, before.slot(c.gone[0]) + 13));
            QVERIFY(
                std::equal(after.sir() + 15, after.sir() + 17, before.slot(c.gone.last()) + 15));
            QCOMPARE(after.freeCount(), before.freeCount() + freed);
            QCOMPARE(rowsOf(w.dlg).size(), 4 - c.gone.size());
            QCOMPARE(controlText(w.dlg, IDC_REMAINING_SECTORS).trimmed().toInt(),
                     after.freeCount());
            QVERIFY(consistent(path));
        }
    }

    // One row through Save As (cancelled, then confirmed), several into the current folder
    // (declined, then confirmed), and a write that fails half-way: the file size limit stands
    // in for a full disk, and the older file of that name survives whole.
    void exportRows() {
        const std::string path = fourFileImage();
        Window w(path);
        const QString start = newFolder("start"), chosen = newFolder("chosen"),
                      here = newFolder("here");
        w.settings.set(Settings::DefaultExportDir, start);
        w.select({0});
        w.prompts.expectSaveFile({});
        w.press(IDC_EXPORT);
        w.prompts.expectSaveFile(chosen + "/hello copy.txt");
        w.press(IDC_EXPORT);
        QCOMPARE(w.prompts.saveNames, QStringList({"HELLO.TXT", "HELLO.TXT"}));
        QCOMPARE(w.prompts.saveFolders, QStringList({start, start}));
        QCOMPARE(w.settings.get(Settings::DefaultExportDir), chosen);
        QVERIFY(readFileBytes((chosen + "/hello copy.txt").toStdString()) ==
                padded(bytesOf("AB   C\r\n"), 254));

        w.settings.set(Settings::DefaultExportDir, {});
        QDir::setCurrent(here);
        w.select({0, 2});
        for (bool yes : {false, true}) {
            w.prompts.expectYesNo(yes);
            w.press(IDC_EXPORT);
        }
        QVERIFY(w.prompts.questions[0].startsWith(
            "Multiple selection will put the files in the \ndefault export directory"));
        QVERIFY(w.prompts.questions[0].contains("is:\n\n      " + here + "\n\nDo you"));
        QCOMPARE(filesIn(here), QStringList({"HELLO.TXT", "THREE.TXT"}));
        QVERIFY(readFileBytes((here + "/THREE.TXT").toStdString()) == padded(Bytes(700, 'x'), 756));
        QCOMPARE(w.settings.get(Settings::DefaultExportDir), QString());

        const std::string older = (chosen + "/THREE.TXT").toStdString();
        writeFileBytes(older, bytesOf("older"));
        w.select({2});
        w.prompts.expectSaveFile(q(older));
        w.prompts.expectMessage({"THREE.TXT", "left as it was", "(File too large)"});
        {
            const FileSizeLimit limit(500);
            w.press(IDC_EXPORT);
        }
        QVERIFY(readFileBytes(older) == bytesOf("older"));
        QCOMPARE(filesIn(chosen), QStringList({"THREE.TXT", "hello copy.txt"}));
        QVERIFY(w.prompts.allShown());
    }

    // The warning comes once per run of the program, also to a later window; declining it ends
    // the import before the Open dialog and without a refresh, Cancel there refreshes.
    void importWarningOncePerRun() {
        const std::string path = fourFileImage();
        Window w(path);
        w.app.m_bCompressSpaces = true;
        ImageBuilder other = ImageBuilder::formatted(5, Spt);
        other.addFile("OTHER", "TXT", {'o'});
        other.save(path);
        w.prompts.expectYesNo(false);
        w.press(IDC_IMPORT);
        QCOMPARE(w.prompts.questions[0], QString(dw::CompactionWarning).replace("\r\n", "\n"));
        QCOMPARE(rowsOf(w.dlg).size(), 4);
        w.prompts.expectOpenFiles({});
        w.press(IDC_IMPORT);
        QCOMPARE(rowsOf(w.dlg).size(), 1);

        Window later(path);
        later.app.m_bCompressSpaces = true;
        later.prompts.expectOpenFiles({});
        later.press(IDC_IMPORT);
        QVERIFY(w.prompts.allShown() && later.prompts.allShown());
    }

    void importAsksForAnEightThreeName() {
        const std::string path = fourFileImage();
        Window w(path);
        const QString from = newFolder("import");
        writeFileBytes((from + "/Document1.text").toStdString(), bytesOf("hi\r\nyou\n"));
        writeFileBytes((from + "/readme").toStdString(), bytesOf("skipped"));
        w.prompts.expectOpenFiles({from + "/Document1.text", from + "/readme"});
        w.prompts.expectDialog(nameDialog("Document.tex", "abc", IDOK));
        w.prompts.expectDialog(nameDialog("abc.", "abc.d", IDOK));
        w.prompts.expectDialog(nameDialog("readme.", "read.me", IDCANCEL));
        w.press(IDC_IMPORT);
        const Disk after(path);
        QCOMPARE(after.name(4), std::string("ABC\0\0\0\0\0D\0\0", 11));
        QVERIFY(after.data(4) == padded(bytesOf("hi\ryou\r"), 252));
        QCOMPARE(after.slot(5)[0], 0);
        QCOMPARE(w.settings.get(Settings::DefaultImportDir), from);
        QCOMPARE(rowsOf(w.dlg).size(), 5);
        QVERIFY(consistent(path));
        QVERIFY(w.prompts.allShown());
    }

    void importQuestions() {
        struct Case {
            const char* host;
            Bytes content;
            const char* question;
            bool yes;
            int slot;    // where the file lands; -1 when the image stays as it was
            Bytes start; // the first stored bytes
        };
        const Bytes big(34 * 252, 'z'), odd{0x02, 0x0A, 'x'}, oddText{0x02, 0x0D, 'x'};
        const char* const binary = "b.dat may be a binary file. Do\nyou";
        const Case cases[] = {
            {"HELLO.TXT", bytesOf("new"), "File Already Exists\nDo you", false, -1, {}},
            {"HELLO.TXT", bytesOf("new"), "File Already Exists\nDo you", true, 0, bytesOf("new")},
            {"big.txt", big, "Disk is FULL!\nDo you", false, -1, {}},
            {"big.txt", big, "Disk is FULL!\nDo you", true, 4, Bytes(252, 'z')},
            {"b.dat", odd, binary, true, 4, odd},
            {"b.dat", odd, binary, false, 4, oddText},
        };
        for (const Case& c : cases) {
            const std::string path = fourFileImage();
            const Disk before(path);
            Window w(path);
            const QString host = newFolder("host") + "/" + c.host;
            writeFileBytes(host.toStdString(), c.content);
            w.prompts.expectOpenFiles({host});
            w.prompts.expectYesNo(c.yes);
            w.press(IDC_IMPORT);
            QVERIFY(w.prompts.allShown());
            QVERIFY(w.prompts.questions[0].startsWith(c.question));
            const Disk after(path);
            if (c.slot < 0) {
                QVERIFY(before.b == after.b);
                continue;
            }
            const Bytes data = after.data(c.slot);
            QVERIFY(std::equal(c.start.begin(), c.start.end(), data.begin()));
            QVERIFY(consistent(path));
        }
    }

    void viewInTheEditor() {
        const std::string path = fourFileImage();
        Window w(path);
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        const QString temp = newFolder("view copies");
        qputenv("TEMP", temp.toLocal8Bit());
        const QString record = temp + "/arguments";
        const QString editor = newFolder("my editor") + "/edit";
        writeFileBytes(editor.toStdString(),
                       bytesOf(("#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" >> '" + record + "'\n")
                                   .toStdString()
                                   .c_str()));
        QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        w.app.m_strEditorPath = editor;

        // A binary file is copied and nothing starts; two rows selected do nothing.
        w.select({1});
        w.dlg.OnDblclkFileList();
        QVERIFY(readFileBytes((temp + "/BIN.BIN").toStdString()) == padded(Bytes(300, 0x02), 504));
        w.select({0, 2});
        w.dlg.OnDblclkFileList();
        QVERIFY(!QFile::exists(temp + "/THREE.TXT"));
        // A double-click on a text row: the copy without its NULs goes to the editor whole.
        w.select({});
        QTreeWidgetItem* hello = w.list()->topLevelItem(0);
        const QPoint at = w.list()->visualItemRect(hello).center();
        // The test's double-click needs the click before it, as a user's has.
        QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w.list()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(fileText(temp + "/HELLO.TXT"), QString("AB   C\r\n"));
        QTRY_COMPARE(fileText(record), "1|" + temp + "/HELLO.TXT|");

        w.app.m_strEditorPath.clear();
        w.prompts.expectMessage({"No Editor defined"});
        w.dlg.OnDblclkFileList();
        w.app.m_strEditorPath = temp + "/no such editor";
        w.prompts.expectMessage({"Unable to start the editor " + temp + "/no such editor: "});
        w.dlg.OnDblclkFileList();
        QCOMPARE(w.prompts.icons.last(), Prompts::Icon::Information);
        qputenv("TEMP", (temp + "/gone").toLocal8Bit());
        w.prompts.expectMessage({"Unable to open target file " + temp + "/gone/HELLO.TXT (No such",
                                 "temporary folder " + temp + "/gone exists"});
        w.dlg.OnDblclkFileList();
        qunsetenv("TEMP");
        QVERIFY(w.prompts.allShown());
    }

    // Alt+click or F2, a name, Enter: renamed on the disk; a name taken: refused, the row stays.
    void renameInPlace() {
        const std::string path = fourFileImage();
        Window w(path);
        w.dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
        auto rename = [&](const QString& name) {
            auto* editor = w.list()->findChild<QLineEdit*>();
            QVERIFY(editor && editor->isVisible());
            editor->selectAll();
            QTest::keyClicks(editor, name);
            QTest::keyClick(editor, Qt::Key_Return);
            QTRY_VERIFY(!w.list()->findChild<QLineEdit*>());
        };
        QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, Qt::AltModifier,
                          w.list()->CellRect(1, 0).center());
        rename("binary");
        QTRY_COMPARE(rowsOf(w.dlg)[1].left(11), QString("BINARY|BIN|"));
        w.select({2});
        w.prompts.expectMessage({"THREE.TXT was not renamed: HELLO.TXT is already on the disk"});
        QTest::keyClick(&w.dlg, Qt::Key_F2);
        rename("hello");
        QTRY_VERIFY(w.prompts.messages.size() == 1 && w.prompts.allShown());
        QVERIFY(rowsOf(w.dlg)[2].startsWith("THREE|TXT|"));
    }

    // Host files dropped onto the list: the drop is taken at once, and Import's questions and
    // 8.3 dialog come after it.
    void dropHostFiles() {
        const std::string path = fourFileImage();
        Window w(path);
        const QString from = newFolder("dropped");
        writeFileBytes((from + "/HELLO.TXT").toStdString(), bytesOf("new"));
        writeFileBytes((from + "/readme").toStdString(), bytesOf("r\n"));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(from + "/HELLO.TXT"), QUrl("https://example.org/a"),
                      QUrl::fromLocalFile(from + "/readme")});
        w.prompts.expectYesNo(true);
        w.prompts.expectDialog(nameDialog("readme.", "read.me", IDOK));
        QVERIFY(dropOn(w, data) && w.prompts.questions[0].startsWith("File Already Exists"));
        const Disk after(path);
        QVERIFY(after.data(0) == padded(bytesOf("new"), 252));
        QCOMPARE(after.name(4), std::string("READ\0\0\0\0ME\0", 11));
    }

    // A drag of rows carries them as Export writes them, with the options of the moment, in a
    // private folder that goes with the window, and as FLEX files.
    void dragOutData() {
        const QString temp = newFolder("drag temp");
        qputenv("TEMP", temp.toLocal8Bit());
        auto w = std::make_unique<Window>(fourFileImage());
        w->app.m_bAddLineFeeds = false;
        w->select({0, 1});
        const std::unique_ptr<QMimeData> data = w->dlg.DragData();
        qunsetenv("TEMP");
        QVERIFY(data && data->urls().size() == 2);
        const QString hello = data->urls()[0].toLocalFile(), bin = data->urls()[1].toLocalFile();
        QCOMPARE(QFileInfo(hello).fileName() + QFileInfo(bin).fileName(), "HELLO.TXTBIN.BIN");
        QVERIFY(readFileBytes(hello.toStdString()) == padded(bytesOf("AB   C\r"), 253));
        QVERIFY(readFileBytes(bin.toStdString()) == padded(Bytes(300, 2), 504));
        const QString own = QFileInfo(QFileInfo(hello).path()).path();
        QCOMPARE(QFileInfo(own).path(), temp);
        QVERIFY(!(QFile::permissions(own) & (QFile::ReadGroup | QFile::ReadOther)));
        const QByteArray block = data->data(FlexFilesMimeType);
        std::vector<dw::PackedFile> files;
        QVERIFY(dw::unpackFiles(Bytes(block.begin(), block.end()), files).ok());
        QVERIFY(files.size() == 2 && files[1].data == padded(Bytes(300, 2), 504));
        w.reset();
        QVERIFY(!QFileInfo::exists(own));
    }

    // Another window's random file keeps data, date and flag, its map naming its new sectors; a
    // damaged block and a read-only image change nothing.
    void dropFlexFilesFromAnotherWindow() {
        ImageBuilder b = ImageBuilder::formatted(5, Spt);
        Bytes data(6 * 252);
        std::iota(data.begin(), data.end(), std::uint8_t{0});
        Window from(b.addFile("R", "", data, true).save(tempPath("from.dsk")));
        from.select({0});
        const std::unique_ptr<QMimeData> drag = from.dlg.DragData();
        const std::string path = fourFileImage();
        Window to(path);
        QVERIFY(drag && dropOn(to, *drag) && consistent(path));
        QCOMPARE(rowsOf(to.dlg)[4].section('|', 0, 3), rowsOf(from.dlg)[0].section('|', 0, 3));
        // It gets 1/8 to 2/3: one run of four data sectors from 1/10, across the track's end.
        const Disk after(path);
        const Bytes got = after.data(4), entry(after.slot(4) + 13, after.slot(4) + 19);
        QVERIFY(entry == Bytes({1, 8, 2, 3, 0, 6}) &&
                Bytes(got.begin(), got.begin() + 6) == Bytes({1, 10, 4, 0, 0, 0}));
        QVERIFY(std::equal(got.begin() + 504, got.end(), data.begin() + 504, data.end()));

        const Bytes before = readFileBytes(path);
        QMimeData cut;
        cut.setData(FlexFilesMimeType, drag->data(FlexFilesMimeType).chopped(1));
        to.prompts.expectMessage({"not copied: the dragged files' data ends inside file 1"});
        Window readOnly(path, readOnlyOpener());
        readOnly.prompts.expectMessage(
            {"The image is open for reading only; nothing was changed."});
        QVERIFY(dropOn(to, cut) && dropOn(readOnly, *drag) && readFileBytes(path) == before);
    }

    // While another program changes the image (after a short wait), or while it is open for
    // reading only, Delete, Import and Refresh say so and leave the image and the rows as they
    // were. Read-only, nothing is asked first and Export still works; the window itself holds no
    // lock between commands.
    void refusedChangesLeaveTheImage() {
        for (const bool busy : {true, false}) {
            const std::string path = fourFileImage();
            const Bytes before = readFileBytes(path);
            Window w(path, busy ? defaultImageOpener() : readOnlyOpener());
            std::unique_ptr<dw::DiskImage> other;
            if (busy) {
                QVERIFY(dw::DiskImage::open(path, other).ok());
                QVERIFY(other->beginChange().ok());
                dw::DiskImage::setLockWait(std::chrono::milliseconds(50));
            }
            const QString refusal =
                busy ? q(path) + " is in use by another program; nothing was changed."
                     : "The image is open for reading only; nothing was changed.";
            const QString host = newFolder("refused") + "/NEW.TXT";
            writeFileBytes(nativePath(host), bytesOf("new\n"));
            w.select({0});
            if (busy)
                w.prompts.expectYesNo(true);
            w.prompts.expectMessage({refusal});
            w.press(IDC_DELETE);
            if (busy)
                w.prompts.expectOpenFiles({host});
            w.prompts.expectMessage({refusal});
            w.press(IDC_IMPORT);
            if (busy)
                w.prompts.expectMessage({refusal});
            w.press(IDC_REFRESH);
            w.prompts.expectMessage({refusal}); // Rename too
            w.dlg.OnRenameFile(0, "NEW");
            dw::DiskImage::setLockWait(std::chrono::seconds(3));
            QCOMPARE(rowsOf(w.dlg).size(), 4);
            QVERIFY(readFileBytes(path) == before);
            if (busy) {
                QVERIFY(other->commitChange().ok());
                QVERIFY(other->beginChange().ok());
                QVERIFY(other->commitChange().ok());
            } else {
                w.select({0}); // the refresh cleared the selection
                const QString out = newFolder("ro") + "/HELLO.TXT";
                w.prompts.expectSaveFile(out);
                w.press(IDC_EXPORT);
                QVERIFY(QFile::exists(out));
            }
            QVERIFY(w.prompts.allShown());
        }
    }
};

DW_UI_TEST_MAIN(CommandsTest)
#include "CommandsTest.moc"
