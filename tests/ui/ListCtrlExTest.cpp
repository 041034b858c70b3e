#include "ui/ListCtrlEx.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/TitleTip.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

using namespace dwtest;

namespace {

const QColor Highlight(200, 0, 0);
const QColor Base(250, 250, 250);

// What reaches a widget: mouse moves and painted regions.
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

// The list in a modal window, as the main window runs, with a button to take the focus. Fixed
// pitch font; column 0 too narrow for the long names; the columns end short of the right edge.
struct Fixture {
    Fixture() {
        window.setWindowModality(Qt::ApplicationModal);
        window.setGeometry(60, 40, 500, 300);
        list->setGeometry(0, 0, 480, 250);
        button->setGeometry(0, 260, 80, 30);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(12);
        list->setFont(font);
        QPalette colours = list->palette();
        colours.setColor(QPalette::Highlight, Highlight);
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
    QPoint centre(int row, int column) const { return list->CellRect(row, column).center(); }
    QPoint global(const QPoint& point) const { return list->viewport()->mapToGlobal(point); }
    // Rests the mouse on a cell (coming from elsewhere) and says whether the tip came up.
    bool rest(int row, int column) {
        QTest::mouseMove(&window, QPoint(495, 295));
        QTest::mouseMove(list->viewport(), centre(row, column));
        return tip().isVisible();
    }
    QColor pixel(int x, int y) const { return list->viewport()->grab().toImage().pixelColor(x, y); }
    QList<bool> selection() const {
        return {list->IsRowSelected(0), list->IsRowSelected(1), list->IsRowSelected(2)};
    }

    QWidget window;
    CListCtrlEx* list = new CListCtrlEx(&window);
    QPushButton* button = new QPushButton(QStringLiteral("Other"), &window);
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
            for (int i = random.bounded(13); i > 0; --i)
                text += QChar(" .-0AMWi"[random.bounded(8)]);
            const int width = random.bounded(-5, 100);
            const QString shown = CListCtrlEx::ElideText(metrics, text, width);
            if (text.isEmpty() || metrics.horizontalAdvance(text) <= width) {
                QCOMPARE(shown, text);
                continue;
            }
            const QString kept = shown.chopped(3);
            QVERIFY(shown.endsWith("...") && text.startsWith(kept) && kept.size() < text.size());
            QVERIFY(kept.isEmpty() || metrics.horizontalAdvance(shown) <= width);
            if (kept.size() + 1 < text.size()) // one more character would not fit
                QVERIFY(metrics.horizontalAdvance(text.left(kept.size() + 1) + "...") > width);
        }
    }

    void rowsPaintToTheEdgeCutTheirCellsAndFollowThePalette() {
        Fixture f;
        CListCtrlEx* list = f.list;
        QVERIFY(!list->EnableFullRowSelect(true));
        list->SelectRow(1, true);
        const int edge = list->viewport()->width() - 2;
        QCOMPARE(list->HighlightRect(1).right(), edge + 1);
        QVERIFY(list->header()->length() < edge - 100);
        const int y0 = list->HighlightRect(0).center().y();
        const int y1 = list->HighlightRect(1).center().y();
        QCOMPARE(f.pixel(edge, y1), Highlight); // without the focus too
        QCOMPARE(f.pixel(edge, y0), Base);
        list->SetShowSelectionAlways(false);
        QCOMPARE(f.pixel(edge, y1), Base);
        list->setFocus();
        QCOMPARE(f.pixel(edge, y1), Highlight);
        QPalette colours = list->palette();
        colours.setColor(QPalette::Base, QColor(0, 0, 120));
        colours.setColor(QPalette::Highlight, QColor(0, 150, 0));
        list->setPalette(colours);
        QCOMPARE(f.pixel(edge, y1), QColor(0, 150, 0));
        QCOMPARE(f.pixel(edge, y0), QColor(0, 0, 120));

        // Inset by two blanks (column 0: one, less a pixel), cut with "...", aligned as the
        // heading; the count keeps its leading blanks.
        const int offset = 2 * QFontMetrics(list->font()).horizontalAdvance(' ');
        const QList<CListCtrlEx::CellPaint> cells = list->RowCells(0);
        QCOMPARE(cells.size(), 4);
        QCOMPARE(cells[0].rect, QRect(offset / 2 - 1, 0, 41 - offset / 2 - offset,
                                      list->HighlightRect(0).height()));
        QVERIFY(cells[0].text.endsWith("...") && cells[0].text.size() < 8);
        QCOMPARE(cells[1].rect.left(), 40 + offset);
        QCOMPARE(cells[1].text, QString("TXT"));
        QCOMPARE(cells[2].text, QString("     4"));
        QCOMPARE(cells[2].alignment, Qt::AlignLeft);
        QCOMPARE(cells[3].alignment, Qt::AlignRight);
    }

    void cellsByDisplayOrderAndHeaderClicksChangeNothing() {
        Fixture f;
        CListCtrlEx* list = f.list;
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(45, 5));
        QCOMPARE(list->CellText(2, 0), QString("THIRDONE"));
        QCOMPARE(list->CellText(2, 9), QString("We better never fall through to here!"));
        QCOMPARE(list->ColumnWidthAtOrder(1), 60);
        QCOMPARE(list->ColumnWidthAtOrder(7), 0);
        const int top = list->visualItemRect(list->topLevelItem(2)).top();
        QCOMPARE(list->CellRect(2, 1), QRect(40, top, 60, list->CellRect(2, 0).height()));
        QCOMPARE(list->CellRect(9, 1), QRect());
        int row = -1;
        int column = -1;
        QVERIFY(list->CellFromPoint(QPoint(100, top + 2), row, column));
        QCOMPARE(QPoint(row, column), QPoint(2, 2));
        QVERIFY(!list->CellFromPoint(QPoint(300, top + 2), row, column));  // past the columns
        QVERIFY(!list->CellFromPoint(QPoint(10, top + 200), row, column)); // below the rows
        // Scrolled sideways, a point still finds the column drawn under it.
        list->setColumnWidth(3, 900);
        QCoreApplication::processEvents();
        list->horizontalScrollBar()->setValue(50);
        QVERIFY(list->CellFromPoint(QPoint(20, top + 2), row, column));
        QCOMPARE(column, 1);
        QCOMPARE(list->CellRect(2, 1).left(), -10);
    }

    void tipShowsOnlyOverACutTextAndWhileActive() {
        Fixture f;
        CTitleTip& tip = f.tip();
        const QString text = "ABCDEFGH";
        const int t = QFontMetrics(f.list->font()).horizontalAdvance(text);
        tip.Show(QRect(30, 40, t + 12, 17), text, 5);
        QVERIFY(!tip.isVisible());
        QCOMPARE(tip.HitRect(), QRect(-5, 0, t + 12, 17));
        tip.Show(QRect(30, 40, t + 11, 17), text, 5);
        QVERIFY(tip.isVisible());
        QCOMPARE(tip.geometry(), QRect(f.global(QPoint(33, 40)), QSize(t + 6, 17)));
        QCOMPARE(QWidget::mouseGrabber(), &tip);
        tip.Hide();
        QVERIFY(!QWidget::mouseGrabber());
        QApplication::setActiveWindow(nullptr);
        tip.Show(QRect(30, 40, t + 11, 17), text, 5);
        QVERIFY(!tip.isVisible());
    }

    void restingShowsTheTipAndLeavingItHandsTheMoveOn() {
        Fixture f;
        CTitleTip& tip = f.tip();
        QVERIFY(f.rest(2, 0));
        const QRect cell = f.list->CellRect(2, 0);
        QCOMPARE(tip.Text(), QString("THIRDONE"));
        QCOMPARE(tip.pos(), f.global(QPoint(cell.left() + 1, cell.top() - 1)));
        QCOMPARE(tip.height(), cell.height() + 1);
        QVERIFY(!f.rest(2, 1)); // "BIN" fits
        QTest::mousePress(f.list->viewport(), Qt::RightButton, {}, f.centre(1, 1));
        QTest::mouseMove(f.list->viewport(), f.centre(2, 0)); // a button held: no tip
        QVERIFY(!tip.isVisible());
        QTest::mouseRelease(f.list->viewport(), Qt::RightButton, {}, f.centre(2, 0));

        QVERIFY(f.rest(0, 0));
        Recorder recorder(f.list->viewport());
        const QRect hit = tip.HitRect();
        const QPoint client = tip.mapToGlobal(QPoint(CTitleTip::Border, CTitleTip::Border));
        for (const QPoint& inside : {hit.topLeft(), hit.bottomRight(), hit.center()}) {
            QTest::mouseMove(tip.windowHandle(), tip.mapFromGlobal(client + inside));
            QVERIFY(tip.isVisible());
        }
        QVERIFY(recorder.moves.isEmpty());
        // One pixel below: the next row's name, which fits.
        const QPoint outside = client + QPoint(hit.left() + 8, hit.bottom() + 1);
        QTest::mouseMove(tip.windowHandle(), tip.mapFromGlobal(outside));
        QVERIFY(!tip.isVisible());
        QTRY_VERIFY(recorder.moves.contains(f.list->viewport()->mapFromGlobal(outside)));
        QVERIFY(!QWidget::mouseGrabber());
    }

    void clickOnTheTipSelectsBeneathKeysAndFocusLossHideIt() {
        Fixture f;
        CTitleTip& tip = f.tip();
        f.list->SelectRow(0, true);
        QVERIFY(f.rest(2, 0));
        QTest::mouseClick(tip.windowHandle(), Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(f.selection(), QList<bool>({false, false, true}));
        QVERIFY(f.list->hasFocus());
        QVERIFY(tip.isVisible());
        QCOMPARE(tip.grab().toImage().pixelColor(tip.width() - 3, 5), Highlight);
        QTest::keyClick(f.list, Qt::Key_Up);
        QVERIFY(!tip.isVisible());
        QCOMPARE(f.selection(), QList<bool>({false, true, false}));
        QVERIFY(f.rest(0, 0));
        f.button->setFocus();
        QVERIFY(!tip.isVisible());
    }

    // Enter hands the name on in upper case, Escape drops it; the row and the selection stay.
    void altClickEditsTheName() {
        Fixture f;
        CListCtrlEx* list = f.list;
        QSignalSpy edited(list, &CListCtrlEx::nameEdited);
        list->SelectRow(0, true);
        const QList<bool> before = f.selection();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::AltModifier, QPoint(10, 200));
        QVERIFY(f.button->hasFocus()); // below the rows: nothing at all
        QVERIFY(!list->findChild<QLineEdit*>());

        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::AltModifier, f.centre(2, 1));
            auto* editor = list->findChild<QLineEdit*>();
            QVERIFY(editor && editor->isVisible());
            QCOMPARE(editor->text(), QString("THIRDONE"));
            editor->selectAll();
            QTest::keyClicks(editor, "new-name.x");
            QTest::keyClick(editor, key);
            QTRY_VERIFY(!list->findChild<QLineEdit*>());
        }
        QCOMPARE(QList<QVariantList>(edited), QList<QVariantList>({{2, QString("NEW-NAME")}}));
        QCOMPARE(list->GetItemText(2, 0), QString("THIRDONE"));
        QCOMPARE(f.selection(), before);
    }

    // The tip forwards a double-click as one: the row beneath is opened as any other.
    void doubleClickThroughTheTip() {
        Fixture f;
        QSignalSpy opened(f.list, &QTreeWidget::itemDoubleClicked);
        QVERIFY(f.rest(2, 0));
        QTest::mouseClick(f.tip().windowHandle(), Qt::LeftButton, {}, QPoint(4, 4));
        QTest::mouseDClick(f.tip().windowHandle(), Qt::LeftButton, {}, QPoint(4, 4));
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0][0].value<QTreeWidgetItem*>(), f.list->topLevelItem(2));
    }

    void focusAndSelectionRepaintOnlyTheirRows() {
        Fixture f;
        CListCtrlEx* list = f.list;
        list->SelectRow(2, true);
        list->setCurrentItem(list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        QCoreApplication::processEvents();
        Recorder recorder(list->viewport());
        list->setFocus();
        QTRY_COMPARE(recorder.painted, QRegion(list->HighlightRect(0)));
        list->SetShowSelectionAlways(false); // the selected rows change their look too
        recorder.painted = QRegion();
        f.button->setFocus();
        QTRY_COMPARE(recorder.painted, QRegion(list->HighlightRect(0)) + list->HighlightRect(2));
        recorder.painted = QRegion();
        list->SelectRow(1, true); // up to the edge, where the highlight ends
        QTRY_COMPARE(recorder.painted.intersected(list->HighlightRect(1)),
                     QRegion(list->HighlightRect(1)));
    }
};

DW_UI_TEST_MAIN(ListCtrlExTest)
#include "ListCtrlExTest.moc"
