#include "tests/ui/support/UiFixtures.h"
#include "ui/AboutDlg.h"
#include "ui/QtPrompts.h"
#include "ui/StatusLamp.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// Presses `button` on the message box as soon as it is shown, and notes what it showed.
struct BoxCloser {
    QMessageBox::StandardButton button;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;

    void arm() {
        QTimer::singleShot(10, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                arm();
                return;
            }
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->button(button)->click();
        });
    }
};

} // namespace

class PromptsTest : public QObject {
    Q_OBJECT
private slots:
    void realMessageBoxes() {
        QtPrompts prompts;
        BoxCloser ok{QMessageBox::Ok, {}, {}};
        ok.arm();
        prompts.message(nullptr, "Unable to open /x.dsk", Prompts::Icon::Warning);
        QCOMPARE(ok.caption, QString("Diskwright"));
        QCOMPARE(ok.text, QString("Unable to open /x.dsk"));
        QCOMPARE(ok.icon, QMessageBox::Warning);

        BoxCloser info{QMessageBox::Ok, {}, {}};
        info.arm();
        prompts.message(nullptr, "No such file", Prompts::Icon::Information);
        QCOMPARE(info.icon, QMessageBox::Information);

        BoxCloser no{QMessageBox::No, {}, {}};
        no.arm();
        QVERIFY(!prompts.askYesNo(nullptr, "Replace it?"));
        BoxCloser yes{QMessageBox::Yes, {}, {}};
        yes.arm();
        QVERIFY(prompts.askYesNo(nullptr, "Replace it?"));
        QCOMPARE(yes.icon, QMessageBox::Warning);
    }

    void aboutBox() {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QString("About Diskwright"));
        QStringList texts;
        QSize iconSize;
        for (QLabel* label : about.findChildren<QLabel*>()) {
            texts << label->text();
            if (!label->pixmap().isNull())
                iconSize = label->pixmap().deviceIndependentSize().toSize();
        }
        QVERIFY(texts.contains("Diskwright Version 2.0.0"));
        QCOMPARE(iconSize, QSize(64, 64)); // the large icon
        auto* ok = dwtest::controlAs<QPushButton>(about, IDOK);
        QVERIFY(ok);
        ok->click();
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void lampsAndIcon() {
        CAboutDlg registersTheResources;
        // Drawn for the screen's scale on a see-through ground, red and green in the middle.
        for (const int id : {IDB_NO_IMAGE, IDB_READ_ONLY, IDB_READ_WRITE}) {
            QImage lamp(45, 45, QImage::Format_ARGB32_Premultiplied);
            lamp.setDevicePixelRatio(3);
            lamp.fill(Qt::transparent);
            QPainter painter(&lamp);
            CStatusLamp::Paint(painter, id, 15);
            QCOMPARE(lamp.pixelColor(0, 0).alpha(), 0);
            const QColor middle = lamp.pixelColor(27, 27);
            QCOMPARE(QPair(middle.red() > 200, middle.green() > 200),
                     QPair(id == IDB_READ_ONLY, id == IDB_READ_WRITE));
        }
        for (int size : {16, 32, 48, 64, 128, 256}) {
            const QImage icon(QString(":/res/diskwright_%1.png").arg(size));
            QCOMPARE(icon.size(), QSize(size, size));
            // The diskette's corner is see-through, its jacket navy.
            QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
            QCOMPARE(icon.pixelColor(size / 4, size / 2), QColor(0, 0, 128));
        }
    }
};

DW_UI_TEST_MAIN(PromptsTest)
#include "PromptsTest.moc"
