#include "ui/ProgressDlg.h"
#include "engine/Create.h"
#include "tests/support/ImageBuilder.h"
#include "tests/ui/support/UiFixtures.h"

#include <QAbstractButton>
#include <QLabel>
#include <QtTest>

#include <functional>

using namespace dwtest;

namespace {

void pressCancel(CProgressDlg& progress) {
    QTest::mouseClick(control(progress, IDCANCEL), Qt::LeftButton);
}

// Presses Cancel while the writer asks for the tenth time, at the start of track 10.
class CancelAtTrack10 : public CProgressDlg {
public:
    bool PollCancel() override {
        if (++polls == 10)
            pressCancel(*this);
        return CProgressDlg::PollCancel();
    }
    int polls = 0;
};

} // namespace

class ProgressDlgTest : public QObject {
    Q_OBJECT
private slots:
    void percentages() {
        struct Case {
            int low, high, step; // step 0: the defaults, 0 to 100 by 10
            int steps;
            const char* shown;
        };
        const Case cases[] = {
            {0, 1000, 1, 0, " 0 %"},  {0, 1000, 1, 1, "0%"},      {0, 1000, 1, 10, "1%"},
            {0, 1000, 1, 999, "99%"}, {0, 1000, 1, 1000, "100%"}, {0, 0, 0, 1, "10%"},
            {0, 100, 60, 2, "20%"},   {-50, 50, 25, 1, "75%"},    {100, 200, 10, 1, "10%"},
        };
        for (const Case& c : cases) {
            CProgressDlg progress;
            progress.Create();
            if (c.step != 0) {
                progress.SetRange(c.low, c.high);
                progress.SetStep(c.step);
            }
            int previous = -1;
            for (int i = 0; i < c.steps; ++i)
                previous = progress.StepIt();
            QCOMPARE(controlText(progress, IDC_PROGRESS_PERCENT), QString(c.shown));
            if (c.steps == 1) // the position starts at 0, or at the low end above 0
                QCOMPARE(previous, std::max(c.low, 0));
        }
    }

    void cancelOnlyRaisesTheFlag() {
        QWidget owner;
        owner.show();
        {
            CProgressDlg progress;
            QVERIFY(progress.Create(&owner));
            QCOMPARE(progress.windowTitle(), QString("Formatting Virtual Floppy"));
            QVERIFY(progress.isVisible());
            QVERIFY(!owner.isEnabled());
            QCOMPARE(controlText(progress, IDC_PROGRESS_STATUS), QString());

            // Cancel, Escape and the close button raise the flag, each read once; Return and
            // Enter do not. The window stays up all along.
            const std::pair<std::function<void()>, bool> tries[] = {
                {[&] {
                     pressCancel(progress);
                     pressCancel(progress);
                 },
                 true},
                {[&] { QTest::keyClick(&progress, Qt::Key_Return); }, false},
                {[&] { QTest::keyClick(control(progress, IDCANCEL), Qt::Key_Enter); }, false},
                {[&] { QTest::keyClick(&progress, Qt::Key_Escape); }, true},
                {[&] { progress.close(); }, true},
            };
            for (const auto& [act, cancels] : tries) {
                act();
                QVERIFY(progress.isVisible());
                QCOMPARE(progress.PollCancel(), cancels);
                QVERIFY(!progress.PollCancel());
            }
            QVERIFY(!owner.isEnabled());
        }
        QVERIFY(owner.isEnabled());

        // An owner that was disabled before stays disabled.
        owner.setEnabled(false);
        { CProgressDlg().Create(&owner); }
        QVERIFY(!owner.isEnabled());
    }

    void cancelAtTrack10LeavesNoFile() {
        const QString folder = newFolder("track10");
        const dw::FormatParameters p{.tracks = 256, .sectorsPerSide = 255, .doubleSided = false};
        QWidget owner;
        {
            CancelAtTrack10 progress;
            progress.Create(&owner);
            const dw::Status status = dw::createImageFile(nativePath(folder + "/big.dsk"), p,
                                                          dw::currentLocalDate(), progress, true);
            QCOMPARE(status.code(), dw::ErrorCode::Cancelled);
            QCOMPARE(progress.polls, 10);
            QCOMPARE(progress.Position(), 10 * 255);
        }
        QVERIFY(owner.isEnabled());
        QVERIFY(filesIn(folder).isEmpty());
    }
};

DW_UI_TEST_MAIN(ProgressDlgTest)
#include "ProgressDlgTest.moc"
