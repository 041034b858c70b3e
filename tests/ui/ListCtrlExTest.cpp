#include "ui/ListCtrlEx.h"
#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DiskwrightDlg.h"
#include "ui/TitleTip.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QtTest>

using namespace dwtest;

namespace {

const QColor Highlight(200, 0, 0);
const QColor HighlightedText(255, 255, 0);
const QColor Base(250, 250, 250);

// Collects what reaches a widget: the mouse moves with their positions and the regions painted.
class Recorder : public QObject {
public:
    explicit Recorder(QWidget* widget) { widget->installEventFilter(this); }
    QList<QPoint> moves;
    QRegion painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseMove)
            moves << static_cast<QMouseEvent*>(event)->position().toPoint();
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

// The file list in a window of its own, in a fixed-pitch font, with a button to take the focus
// away. Column 0 is too narrow for the names; the columns end well short of the right edge.
struct Fixture {
    Fixture() {
        // As the main window runs: modal, so that no other window of ours gets input.
        window.setWindowModality(Qt::ApplicationModal);
        window.setGeometry(60, 40, 500, 300);
        list = new CListCtrlEx(&window);
        list->setGeometry(0, 0, 480, 250);
        button = new QPushButton(QStringLiteral("Other"), &window);
        button->setGeometry(0, 260, 80, 30);

        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(12);
        font.setStyleHint(QFont::Monospace);
        list->setFont(font);
        QPalette colours = list->palette();
        colours.setColor(QPalette::Highlight, Highlight);
        colours.setColor(QPalette::HighlightedText, HighlightedText);
        colours.setColor(QPalette::Base, Base);
        list->setPalette(colours);

        list->SetShowSelectionAlways(true);
        list->InsertColumn(0, "FileName  ", 40);
        list->InsertColumn(1, "Ext  ", 60);
        list->InsertColumn(2, "Count", 80);
        list->InsertColumn(3, "Right", 80, Qt::AlignRight);
        list->InsertRow(0, {"LONGNAME", "TXT", "     4", "1"});
        list->InsertRow(1, {"AB", "CMD", "    12", "2"});
        list->InsertRow(2, {"THIRDONE", "BIN", "   100", "3"});
        list->EnableFullRowSelect(true);

        window.show();
        QApplication::setActiveWindow(&window);
        button->setFocus();
    }

    CTitleTip& tip() const { return list->TitleTip(); }
    QPoint cellCentre(int row, int column) const { return list->CellRect(row, column).center(); }
    QPoint global(const QPoint& viewportPoint) const {
        return list->viewport()->mapToGlobal(viewportPoint);
    }
    // Rests the mouse on a cell and returns whether the tip came up.
    bool rest(int row, int column) {
        QTest::mouseMove(&window, QPoint(495, 295)); // from elsewhere, so that the mouse moves
        QTest::mouseMove(list->viewport(), cellCentre(row, column));
        return tip().isVisible();
    }
    QColor pixel(int x, int y) const { return list->viewport()->grab().toImage().pixelColor(x, y); }

    QWidget window;
    CListCtrlEx* list = nullptr;
    QPushButton* button = nullptr;
};

} // namespace

class ListCtrlExTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QApplication::setActiveWindow(nullptr); }

    void elidedTextIsWholeOrLongestPrefixWithDots() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        const QFontMetrics metrics(font);
        QRandomGenerator random(11);
        for (int run = 0; run < 500; ++run) {
            QString text;
            const int length = random.bounded(13);
            for (int i = 0; i < length; ++i)
                text += QChar(" .-0AMWi"[random.bounded(8)]);
            const int width = random.bounded(-5, 100);
            const QString shown = CListCtrlEx::ElideText(metrics, text, width);
            if (text.isEmpty() || metrics.horizontalAdvance(text) <= width) {
                QCOMPARE(shown, text);
                continue;
            }
            QVERIFY(shown.endsWith("..."));
            const QString kept = shown.chopped(3);
            QVERIFY2(text.startsWith(kept), qPrintable(text + "|" + shown));
            QVERIFY(kept.size() < text.size());
            if (!kept.isEmpty())
                QVERIFY(metrics.horizontalAdvance(shown) <= width);
            // One more character would not have fitted.
            if (kept.size() + 1 < text.size())
                QVERIFY(metrics.horizontalAdvance(text.left(kept.size() + 1) + "...") > width);
        }
    }

    void rowsPaintHighlightToTheEdgeAndCutCells() {
        Fixture f;
        CListCtrlEx* list = f.list;
        QVERIFY(list->IsFullRowSelect());
        QVERIFY(!list->EnableFullRowSelect(true));
        list->SelectRow(1, true);

        const QRect highlight = list->HighlightRect(1);
        QCOMPARE(highlight.left(), 0);
        QCOMPARE(highlight.right(), list->viewport()->width() - 1);
        QVERIFY(list->header()->length() < list->viewport()->width() - 100);

        // Without the focus, selected rows stay highlighted up to the edge; others show the base.
        const int edge = list->viewport()->width() - 2;
        QCOMPARE(f.pixel(edge, highlight.center().y()), Highlight);
        QCOMPARE(f.pixel(edge, list->HighlightRect(0).center().y()), Base);
        list->SetShowSelectionAlways(false);
        QCOMPARE(f.pixel(edge, highlight.center().y()), Base);
        list->setFocus();
        QCOMPARE(f.pixel(edge, highlight.center().y()), Highlight);

        // The colours follow a change of the palette.
        QPalette colours = list->palette();
        colours.setColor(QPalette::Base, QColor(0, 0, 120));
        colours.setColor(QPalette::Highlight, QColor(0, 150, 0));
        list->setPalette(colours);
        QCOMPARE(f.pixel(edge, highlight.center().y()), QColor(0, 150, 0));
        QCOMPARE(f.pixel(edge, list->HighlightRect(0).center().y()), QColor(0, 0, 120));

        // Cells: inset by two blanks (column 0 by one, less a pixel), cut with "...", aligned
        // as their heading; the count keeps its leading blanks.
        const int offset = 2 * QFontMetrics(list->font()).horizontalAdvance(' ');
        const QList<CListCtrlEx::CellPaint> cells = list->RowCells(0);
        QCOMPARE(cells.size(), 4);
        QCOMPARE(cells[0].rect.left(), offset / 2 - 1);
        QCOMPARE(cells[0].rect.right() + 1, 40 - offset);
        QVERIFY(cells[0].text.endsWith("..."));
        QVERIFY(QString("LONGNAME").startsWith(cells[0].text.chopped(3)));
        QCOMPARE(cells[1].rect.left(), 40 + offset);
        QCOMPARE(cells[1].text, QString("TXT"));
        QCOMPARE(cells[2].text, QString("     4"));
        QCOMPARE(cells[2].alignment, Qt::AlignLeft);
        QCOMPARE(cells[3].alignment, Qt::AlignRight);
    }

    void cellGeometryByDisplayOrder() {
        Fixture f;
        CListCtrlEx* list = f.list;
        const int top = list->visualItemRect(list->topLevelItem(2)).top();
        QCOMPARE(list->ColumnWidthAtOrder(1), 60);
        QCOMPARE(list->ColumnWidthAtOrder(7), 0);
        QCOMPARE(list->CellText(2, 0), QString("THIRDONE"));
        QCOMPARE(list->CellText(2, 9), QString("We better never fall through to here!"));
        QCOMPARE(list->CellRect(2, 1).left(), 40);
        QCOMPARE(list->CellRect(2, 1).width(), 60);
        QCOMPARE(list->CellRect(2, 1).top(), top);
        QCOMPARE(list->CellRect(9, 1), QRect());

        int row = -1;
        int column = -1;
        QVERIFY(list->CellFromPoint(QPoint(100, top + 2), row, column));
        QCOMPARE(row, 2);
        QCOMPARE(column, 2);
        QVERIFY(!list->CellFromPoint(QPoint(300, top + 2), row, column));  // past the columns
        QVERIFY(!list->CellFromPoint(QPoint(10, top + 200), row, column)); // below the rows

        // Scrolled sideways, the point still finds the column drawn under it.
        list->setColumnWidth(3, 900);
        QCoreApplication::processEvents();
        list->horizontalScrollBar()->setValue(50);
        QVERIFY(list->CellFromPoint(QPoint(20, top + 2), row, column));
        QCOMPARE(column, 1);
        QCOMPARE(list->CellRect(2, 1).left(), -10);
    }

    void tipShowsOnlyWhenTheTextIsCut() {
        Fixture f;
        CTitleTip& tip = f.tip();
        const QString text = "ABCDEFGH";
        const int t = QFontMetrics(f.list->font()).horizontalAdvance(text);
        const QRect cell(30, 40, t + 12, 17);
        tip.Show(cell, text, 5);
        QVERIFY(!tip.isVisible());
        QCOMPARE(tip.HitRect(), QRect(-5, 0, t + 12, 17));

        const QRect narrower(30, 40, t + 11, 17);
        tip.Show(narrower, text, 5);
        QVERIFY(tip.isVisible());
        QCOMPARE(tip.geometry(), QRect(f.global(QPoint(33, 40)), QSize(t + 6, 17)));
        QCOMPARE(tip.Text(), text);
        QCOMPARE(QWidget::mouseGrabber(), &tip);
        tip.Hide();
        QVERIFY(!QWidget::mouseGrabber());

        // Another application has the user's attention: nothing shows.
        QApplication::setActiveWindow(nullptr);
        tip.Show(narrower, text, 5);
        QVERIFY(!tip.isVisible());
    }

    void restingOnACutCellShowsTheTipOverIt() {
        Fixture f;
        QVERIFY(f.rest(2, 0));
        const QRect cell = f.list->CellRect(2, 0);
        QCOMPARE(f.tip().Text(), QString("THIRDONE"));
        QCOMPARE(f.tip().pos(), f.global(QPoint(cell.left() + 1, cell.top() - 1)));
        QCOMPARE(f.tip().height(), cell.height() + 1);
        QVERIFY(!f.rest(2, 1)); // "BIN" fits: the tip goes and does not come back
        // A move with a button or Shift held shows nothing.
        QTest::mousePress(f.list->viewport(), Qt::RightButton, {}, f.cellCentre(1, 1));
        QTest::mouseMove(f.list->viewport(), f.cellCentre(1, 0));
        QVERIFY(!f.tip().isVisible());
        QTest::mouseRelease(f.list->viewport(), Qt::RightButton, {}, f.cellCentre(1, 0));
    }

    void moveInsideKeepsTheTipOutsideHandsTheMoveOn() {
        Fixture f;
        QVERIFY(f.rest(0, 0));
        CTitleTip& tip = f.tip();
        Recorder recorder(f.list->viewport());
        const QRect hit = tip.HitRect();
        const QPoint client = tip.mapToGlobal(QPoint(CTitleTip::Border, CTitleTip::Border));
        for (const QPoint& inside : {hit.topLeft(), hit.bottomRight(), hit.center()}) {
            QTest::mouseMove(tip.windowHandle(), tip.mapFromGlobal(client + inside));
            QVERIFY(tip.isVisible());
        }
        QVERIFY(recorder.moves.isEmpty());

        // Just below: the next row's name, which fits, so no tip comes back.
        const QPoint outside = client + QPoint(hit.left() + 8, hit.bottom() + 1);
        QTest::mouseMove(tip.windowHandle(), tip.mapFromGlobal(outside));
        QVERIFY(!tip.isVisible());
        QTRY_VERIFY(recorder.moves.contains(f.list->viewport()->mapFromGlobal(outside)));
        QVERIFY(!QWidget::mouseGrabber());
    }

    void clickOnTheTipSelectsTheRowBeneathAndKeyHidesIt() {
        Fixture f;
        f.list->SelectRow(0, true);
        QVERIFY(f.rest(2, 0));
        CTitleTip& tip = f.tip();
        QTest::mouseClick(tip.windowHandle(), Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(f.list->IsRowSelected(2));
        QVERIFY(!f.list->IsRowSelected(0));
        QVERIFY(f.list->hasFocus());
        QVERIFY(tip.isVisible());
        // Over a selected row the tip takes the highlight colours.
        QCOMPARE(tip.grab().toImage().pixelColor(tip.width() - 3, tip.height() / 2), Highlight);

        QTest::keyClick(f.list, Qt::Key_Up);
        QVERIFY(!tip.isVisible());
        QVERIFY(f.list->IsRowSelected(1)); // the key reached the list

        // Losing the focus hides it too.
        QVERIFY(f.rest(0, 0));
        f.button->setFocus();
        QVERIFY(!tip.isVisible());
    }

    void altClickEditsTheNameAndChangesNothing() {
        Fixture f;
        CListCtrlEx* list = f.list;
        list->SelectRow(0, true);
        const auto selection = [&] {
            return QList<bool>{list->IsRowSelected(0), list->IsRowSelected(1),
                               list->IsRowSelected(2)};
        };
        const QList<bool> before = selection();

        // Below the rows: nothing at all, not even the focus.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::AltModifier, QPoint(10, 200));
        QVERIFY(f.button->hasFocus());
        QVERIFY(!list->findChild<QLineEdit*>());
        QCOMPARE(selection(), before);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::AltModifier, f.cellCentre(2, 1));
        auto* editor = list->findChild<QLineEdit*>();
        QVERIFY(editor);
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->text(), QString("THIRDONE"));
        QCOMPARE(selection(), before);
        QTest::keyClicks(editor, "XY");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!list->findChild<QLineEdit*>() || !list->findChild<QLineEdit*>()->isVisible());
        QCOMPARE(list->GetItemText(2, 0), QString("THIRDONE"));
        QCOMPARE(selection(), before);
    }

    void headerClickKeepsTheOrder() {
        Fixture f;
        QHeaderView* header = f.list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionPosition(1) + 5, header->height() / 2));
        QCOMPARE(f.list->CellText(0, 0), QString("LONGNAME"));
        QCOMPARE(f.list->CellText(2, 0), QString("THIRDONE"));
        QVERIFY(!f.list->isSortingEnabled());
    }

    void repaintsCoverOnlyTheRowsThatChange() {
        Fixture f;
        CListCtrlEx* list = f.list;
        list->SelectRow(2, true);
        list->setCurrentItem(list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        QCoreApplication::processEvents();
        Recorder recorder(list->viewport());
        list->setFocus();
        QTRY_VERIFY(!recorder.painted.isEmpty());
        QCOMPARE(recorder.painted.boundingRect(), list->HighlightRect(0));

        // Without "show selection always" the selected rows change look too.
        list->SetShowSelectionAlways(false);
        recorder.painted = QRegion();
        f.button->setFocus();
        QTRY_VERIFY(!recorder.painted.isEmpty());
        QCOMPARE(recorder.painted, QRegion(list->HighlightRect(0)) + list->HighlightRect(2));

        // A newly selected row is repainted up to the edge, where its highlight ends.
        recorder.painted = QRegion();
        list->SelectRow(1, true);
        QTRY_VERIFY(!recorder.painted.isEmpty());
        QCOMPARE(recorder.painted.intersected(list->HighlightRect(1)),
                 QRegion(list->HighlightRect(1)));
    }

    void mainWindowTurnsFullRowSelectOn() {
        CDiskwrightApp app;
        ScriptedPrompts prompts;
        SettingsStore settings;
        CDiskwrightDlg dlg(app, prompts, settings);
        auto* list = controlAs<CListCtrlEx>(dlg, IDC_FILE_LIST);
        QVERIFY(!list->IsFullRowSelect());
        dlg.OnInitDialog();
        QVERIFY(list->IsFullRowSelect());
        QVERIFY(list->IsShowSelectionAlways());
    }
};

DW_UI_TEST_MAIN(ListCtrlExTest)
#include "ListCtrlExTest.moc"
