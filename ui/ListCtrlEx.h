#pragma once

// The file list: a report view of rows and columns. It never sorts, and a click on a heading
// changes nothing. With full-row select on it paints its rows itself: a selected row is
// highlighted up to the right edge of the list, every cell shows one line cut with "...", and
// resting the mouse on a cut cell shows its whole text in a title tip. Alt+click on a row opens
// an editor over its name: Enter (or leaving it) hands the new name to nameEdited, Escape
// cancels; the row keeps its text either way. Selected rows can be dragged out (the owner makes
// the drag's data), and host files dropped onto it, once the owner lets it take drops, are
// handed to the owner, as are FLEX files dragged from another window; a drag never drops onto
// the list it came from.

#include <QColor>
#include <QList>
#include <QStringList>
#include <QTreeWidget>

class CTitleTip;
class QDropEvent;

// The type under which a drag carries whole FLEX files (engine/FilePack.h) to another window.
inline constexpr char FlexFilesMimeType[] = "application/x-diskwright-flex-files";
class QFontMetrics;

class CListCtrlEx : public QTreeWidget {
    Q_OBJECT
public:
    explicit CListCtrlEx(QWidget* parent = nullptr);
    ~CListCtrlEx() override;

    int GetItemCount() const { return topLevelItemCount(); }
    QString GetItemText(int row, int column) const;
    bool IsRowSelected(int row) const;
    void SelectRow(int row, bool selected);

    // Removes every row and column.
    void DeleteAll();
    // Cells of the column are aligned as its heading.
    void InsertColumn(int index, const QString& title, int width,
                      Qt::Alignment alignment = Qt::AlignLeft);
    void InsertRow(int index, const QStringList& texts);
    // The width a column (other than the first) needs to show `text` uncut inside its insets.
    int WidthToShow(const QString& text) const;

    // Opens the name editor over the row's first column.
    void EditName(int row);
    // The longest name the editor takes.
    static constexpr int NameLength = 8;
    // For the name editor: says that the name of `row` was edited to `name`.
    void NameEdited(int row, const QString& name);

    // Selected rows stay highlighted while the list does not have the focus.
    void SetShowSelectionAlways(bool on) { m_bShowSelAlways = on; }
    bool IsShowSelectionAlways() const { return m_bShowSelAlways; }

    // Returns whether the mode changed.
    bool EnableFullRowSelect(bool on);
    bool IsFullRowSelect() const { return m_bFullRowSelect; }

    // Cells are addressed by row and display order; points and rectangles are in the
    // coordinates of the viewport.
    bool CellFromPoint(const QPoint& point, int& row, int& column) const;
    QRect CellRect(int row, int column) const;
    int ColumnWidthAtOrder(int order) const;
    QString CellText(int row, int order) const;
    void ShowCellTip(const QPoint& point);
    void HideCellTip();
    void InvalidateSelectedRows();

    // What a row painted in full-row mode shows: the rectangle its highlight covers, and for
    // each column the box its text is drawn in and the text as drawn.
    struct CellPaint {
        QRect rect;
        QString text;
        Qt::Alignment alignment;
    };
    QRect HighlightRect(int row) const;
    QList<CellPaint> RowCells(int row) const;

    CTitleTip& TitleTip() const { return *m_tip; }

    // `text` as it fits in `width` pixels: whole, or cut at the end with "..." (only "..."
    // when not even one character fits with it).
    static QString ElideText(const QFontMetrics& metrics, const QString& text, int width);

signals:
    // A name edit ended with a text other than the row's.
    void nameEdited(int row, const QString& name);
    // The selected rows are being dragged: the owner starts the drag.
    void rowsDragged();
    // Host files were dropped onto the list (the drop is already accepted).
    void filesDropped(const QStringList& paths);
    // FLEX files from another window were dropped (accepted): their block, not yet checked.
    void flexFilesDropped(const QByteArray& block);

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QRect RowBounds(int row) const;
    // Whether the list takes the drop: FLEX files or local files, copied from elsewhere.
    bool Takes(const QDropEvent* event) const;
    // Answers the drag or drop: a copy when the list takes it, else ignored; whether it took it.
    bool AcceptAsCopy(QDropEvent* event) const;
    // The local files a drop carries.
    static QStringList DroppedFiles(const QDropEvent* event);
    void StoreColours();

    bool m_bFullRowSelect = false;
    const bool m_bHighlightToEdge = true;
    bool m_bShowSelAlways = false;
    // Between an Alt+click and its release the mouse belongs to the name editor, not the list.
    bool m_bAltClickHeld = false;
    QColor m_crText;
    QColor m_crTextBk;
    QColor m_crBk;
    CTitleTip* m_tip; // a child: destroyed with the list
};
