#include "ui/ListCtrlEx.h"

#include "ui/TitleTip.h"

#include <QApplication>
#include <QDropEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QValidator>

namespace {

// FLEX names are upper case: what is typed shows so at once.
class UpperCase : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

// The name editor hands what was typed to the list's owner, which renames the file and lists
// the disk again; the row itself keeps its text.
class NameDelegate : public QStyledItemDelegate {
public:
    explicit NameDelegate(CListCtrlEx* list) : QStyledItemDelegate(list), list_(list) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setMaxLength(CListCtrlEx::NameLength);
            line->setValidator(new UpperCase(line));
            line->setAccessibleName(QStringLiteral("New file name"));
        }
        return editor;
    }
    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        const auto* line = qobject_cast<QLineEdit*>(editor);
        if (line && line->text() != index.data().toString())
            list_->NameEdited(index.row(), line->text());
    }

private:
    CListCtrlEx* list_;
};

// Shift, Ctrl or a button held: the mouse is busy with something else than reading cells.
bool plainMove(const QMouseEvent* event) {
    return event->buttons() == Qt::NoButton &&
           !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
}

// The base view repaints the whole list when the focus comes or goes; the rows whose look
// changes are repainted on their own instead.
class UpdatesHeld {
public:
    explicit UpdatesHeld(QAbstractItemView* view) : view_(view) { hold(true); }
    ~UpdatesHeld() { hold(false); }
    UpdatesHeld(const UpdatesHeld&) = delete;
    UpdatesHeld& operator=(const UpdatesHeld&) = delete;

private:
    void hold(bool on) {
        view_->setAttribute(Qt::WA_UpdatesDisabled, on);
        view_->viewport()->setAttribute(Qt::WA_UpdatesDisabled, on);
    }
    QAbstractItemView* view_;
};

const QString Ellipsis = QStringLiteral("...");

} // namespace

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTreeWidget(parent), m_tip(new CTitleTip(this)) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new NameDelegate(this));
    viewport()->setMouseTracking(true);
    // Drags copy: nothing is moved off the disk, and no row moves inside the list. The owner
    // says when drops are welcome.
    setDragEnabled(true);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(false);
    // A click gives the focus in mousePressEvent, so that an Alt+click below the rows can
    // leave it where it is.
    setFocusPolicy(Qt::TabFocus);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setSortIndicatorShown(false);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(1); // the "R" column is narrower than the default minimum
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    StoreColours();
    m_tip->Create(viewport());
    m_tip->SetBackBrush(QBrush(m_crBk));
}

CListCtrlEx::~CListCtrlEx() = default;

QString CListCtrlEx::GetItemText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(column) : QString();
}

bool CListCtrlEx::IsRowSelected(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item && item->isSelected();
}

void CListCtrlEx::SelectRow(int row, bool selected) {
    if (QTreeWidgetItem* item = topLevelItem(row))
        item->setSelected(selected);
}

void CListCtrlEx::DeleteAll() {
    HideCellTip();
    clear();
    setColumnCount(0);
}

void CListCtrlEx::InsertColumn(int index, const QString& title, int width,
                               Qt::Alignment alignment) {
    QTreeWidgetItem* headings = headerItem();
    if (columnCount() <= index)
        setColumnCount(index + 1);
    headings->setText(index, title);
    headings->setTextAlignment(index, alignment | Qt::AlignVCenter);
    setColumnWidth(index, width);
}

int CListCtrlEx::WidthToShow(const QString& text) const {
    const QFontMetrics metrics = viewport()->fontMetrics();
    return metrics.horizontalAdvance(text) + 4 * metrics.horizontalAdvance(QLatin1Char(' '));
}

void CListCtrlEx::InsertRow(int index, const QStringList& texts) {
    auto* item = new QTreeWidgetItem(texts);
    // Editable for the name editor; what it returns goes to nameEdited, not into the row.
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    for (int column = 0; column < texts.size(); ++column)
        item->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    insertTopLevelItem(index, item);
}

void CListCtrlEx::EditName(int row) {
    if (row < 0 || row >= GetItemCount())
        return;
    HideCellTip();
    setFocus(Qt::OtherFocusReason);
    edit(model()->index(row, 0));
}

void CListCtrlEx::NameEdited(int row, const QString& name) {
    emit nameEdited(row, name);
}

bool CListCtrlEx::EnableFullRowSelect(bool on) {
    const bool changed = m_bFullRowSelect != on;
    m_bFullRowSelect = on;
    if (changed)
        viewport()->update();
    return changed;
}

void CListCtrlEx::StoreColours() {
    const QPalette& colours = palette();
    m_crText = colours.color(QPalette::Active, QPalette::Text);
    m_crTextBk = colours.color(QPalette::Active, QPalette::Base);
    m_crBk = colours.color(QPalette::Active, QPalette::Base);
}

void CListCtrlEx::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        StoreColours();
        m_tip->SetBackBrush(QBrush(m_crBk));
    }
}

// The row across all columns: its left edge is where the first column starts.
QRect CListCtrlEx::RowBounds(int row) const {
    if (row < 0 || row >= GetItemCount())
        return {};
    const QRect cell = visualRect(model()->index(row, 0));
    if (!cell.isValid())
        return {};
    const int left = header()->sectionViewportPosition(header()->logicalIndex(0));
    return QRect(left, cell.top(), header()->length(), cell.height());
}

QRect CListCtrlEx::HighlightRect(int row) const {
    QRect rect = RowBounds(row);
    const int clientRight = viewport()->width() - 1;
    if (m_bHighlightToEdge && rect.isValid() && rect.right() < clientRight)
        rect.setRight(clientRight);
    return rect;
}

QList<CListCtrlEx::CellPaint> CListCtrlEx::RowCells(int row) const {
    QList<CellPaint> cells;
    const QRect bounds = RowBounds(row);
    if (!bounds.isValid())
        return cells;
    const QFontMetrics metrics = viewport()->fontMetrics();
    const int offset = 2 * metrics.horizontalAdvance(QLatin1Char(' '));
    for (int column = 0; column < columnCount(); ++column) {
        const int left = header()->sectionViewportPosition(column);
        const int right = left + header()->sectionSize(column);
        CellPaint cell;
        int textLeft = left + offset;
        cell.alignment = Qt::AlignLeft;
        if (column == 0) {
            textLeft = left + offset / 2 - 1;
        } else {
            const auto headingAlignment =
                Qt::Alignment(headerItem()->textAlignment(column) & Qt::AlignHorizontal_Mask);
            if (headingAlignment & Qt::AlignRight)
                cell.alignment = Qt::AlignRight;
            else if (headingAlignment & Qt::AlignHCenter)
                cell.alignment = Qt::AlignHCenter;
        }
        const int width = std::max(0, right - offset - textLeft);
        cell.rect = QRect(textLeft, bounds.top(), width, bounds.height());
        cell.text = ElideText(metrics, GetItemText(row, column), width);
        cells << cell;
    }
    return cells;
}

QString CListCtrlEx::ElideText(const QFontMetrics& metrics, const QString& text, int width) {
    if (text.isEmpty() || metrics.horizontalAdvance(text) <= width)
        return text;
    for (qsizetype kept = text.size() - 1; kept > 0; --kept) {
        QString cut = text.left(kept) + Ellipsis;
        if (metrics.horizontalAdvance(cut) <= width)
            return cut;
    }
    return Ellipsis;
}

void CListCtrlEx::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    if (!m_bFullRowSelect) {
        QTreeWidget::drawRow(painter, option, index);
        return;
    }
    const int row = index.row();
    const bool focused = hasFocus();
    const bool highlighted = IsRowSelected(row) && (focused || m_bShowSelAlways);
    const QRect highlight = HighlightRect(row);

    painter->save();
    if (highlighted) {
        painter->fillRect(highlight, palette().color(QPalette::Active, QPalette::Highlight));
        painter->setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
    } else {
        painter->fillRect(highlight, m_crTextBk);
        painter->setPen(m_crText);
    }
    painter->setFont(viewport()->font());
    for (const CellPaint& cell : RowCells(row))
        painter->drawText(cell.rect, int(cell.alignment) | Qt::AlignVCenter | Qt::TextSingleLine,
                          cell.text);

    if (focused && currentIndex().isValid() && currentIndex().row() == row) {
        painter->setPen(QPen(painter->pen().color(), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(highlight.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

// A selection change repaints its rows up to the right edge, where their highlight ends.
QRegion CListCtrlEx::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region = QTreeWidget::visualRegionForSelection(selection);
    if (!m_bFullRowSelect)
        return region;
    QRegion rows;
    for (QRect rect : region) {
        rect.setRight(std::max(rect.right(), viewport()->width() - 1));
        rows += rect;
    }
    return rows;
}

void CListCtrlEx::InvalidateSelectedRows() {
    if (currentIndex().isValid())
        viewport()->update(HighlightRect(currentIndex().row()));
    if (m_bShowSelAlways)
        return;
    for (int row = 0; row < GetItemCount(); ++row)
        if (IsRowSelected(row))
            viewport()->update(HighlightRect(row));
}

void CListCtrlEx::focusInEvent(QFocusEvent* event) {
    if (!m_bFullRowSelect) {
        QTreeWidget::focusInEvent(event);
        return;
    }
    {
        UpdatesHeld held(this);
        QTreeWidget::focusInEvent(event);
    }
    InvalidateSelectedRows();
}

void CListCtrlEx::focusOutEvent(QFocusEvent* event) {
    if (m_bFullRowSelect) {
        UpdatesHeld held(this);
        QTreeWidget::focusOutEvent(event);
    } else {
        QTreeWidget::focusOutEvent(event);
    }
    HideCellTip();
    // The focus went to the name editor: the rows keep their look.
    const QWidget* next = QApplication::focusWidget();
    if (next && isAncestorOf(next))
        return;
    if (m_bFullRowSelect)
        InvalidateSelectedRows();
}

bool CListCtrlEx::CellFromPoint(const QPoint& point, int& row, int& column) const {
    row = indexAt(point).row();
    column = -1;
    // Measured from where the first column starts, so a list scrolled sideways finds the
    // column under the point.
    int x = point.x() + header()->offset();
    for (int order = 0; order < header()->count(); ++order) {
        x -= ColumnWidthAtOrder(order);
        if (x < 0) {
            column = order;
            break;
        }
    }
    return row != -1 && column != -1;
}

QRect CListCtrlEx::CellRect(int row, int column) const {
    const QRect bounds = RowBounds(row);
    if (!bounds.isValid())
        return {};
    int left = bounds.left();
    for (int order = 0; order < column; ++order)
        left += ColumnWidthAtOrder(order);
    const int right = std::min(left + ColumnWidthAtOrder(column), viewport()->width());
    return QRect(left, bounds.top(), right - left, bounds.height());
}

int CListCtrlEx::ColumnWidthAtOrder(int order) const {
    const int column = header()->logicalIndex(order);
    return column < 0 ? 0 : header()->sectionSize(column);
}

QString CListCtrlEx::CellText(int row, int order) const {
    const int column = header()->logicalIndex(order);
    if (column < 0)
        return QStringLiteral("We better never fall through to here!");
    return GetItemText(row, column);
}

void CListCtrlEx::ShowCellTip(const QPoint& point) {
    int row = -1;
    int column = -1;
    if (!CellFromPoint(point, row, column))
        return;
    QRect rect = CellRect(row, column);
    if (column == 0)
        rect.setLeft(rect.left() - 2);
    rect.setTop(rect.top() - 1);
    if (IsRowSelected(row)) {
        m_tip->SetBackColor(palette().color(QPalette::Active, QPalette::Highlight));
        m_tip->SetForeColor(palette().color(QPalette::Active, QPalette::HighlightedText));
    } else {
        m_tip->SetBackColor(m_crTextBk);
        m_tip->SetForeColor(m_crText);
    }
    m_tip->Show(rect, CellText(row, column), 5);
}

void CListCtrlEx::HideCellTip() {
    m_tip->Hide();
}

void CListCtrlEx::mouseMoveEvent(QMouseEvent* event) {
    if (m_bAltClickHeld && event->buttons() != Qt::NoButton)
        return;
    m_bAltClickHeld = false;
    if (plainMove(event))
        ShowCellTip(event->position().toPoint());
    QTreeWidget::mouseMoveEvent(event);
}

void CListCtrlEx::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::AltModifier)) {
        // Alt+click edits the row's name and leaves the selection as it is.
        int row = -1;
        int column = -1;
        if (CellFromPoint(event->position().toPoint(), row, column))
            EditName(row);
        m_bAltClickHeld = true;
        event->accept();
        return;
    }
    m_bAltClickHeld = false;
    setFocus(Qt::MouseFocusReason);
    QTreeWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        ShowCellTip(event->position().toPoint());
}

void CListCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bAltClickHeld) {
        m_bAltClickHeld = false;
        event->accept();
        return;
    }
    QTreeWidget::mouseReleaseEvent(event);
}

void CListCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::AltModifier)) {
        mousePressEvent(event);
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event) {
    QTreeWidget::keyPressEvent(event);
    HideCellTip();
}

void CListCtrlEx::hideEvent(QHideEvent* event) {
    HideCellTip();
    QTreeWidget::hideEvent(event);
}

void CListCtrlEx::startDrag(Qt::DropActions) {
    HideCellTip();
    emit rowsDragged();
}

bool CListCtrlEx::Takes(const QDropEvent* event) const {
    // Its own rows dropped back would copy the files onto themselves.
    if (event->source() == this || !(event->possibleActions() & Qt::CopyAction))
        return false;
    return event->mimeData()->hasFormat(QString::fromLatin1(FlexFilesMimeType)) ||
           !DroppedFiles(event).isEmpty();
}

QStringList CListCtrlEx::DroppedFiles(const QDropEvent* event) {
    QStringList paths;
    if (!event->mimeData()->hasUrls())
        return paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

void CListCtrlEx::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

bool CListCtrlEx::AcceptAsCopy(QDropEvent* event) const {
    if (!Takes(event)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void CListCtrlEx::dragMoveEvent(QDragMoveEvent* event) {
    AcceptAsCopy(event);
}

// The owner's work runs after the drop has been answered.
void CListCtrlEx::dropEvent(QDropEvent* event) {
    if (!AcceptAsCopy(event))
        return;
    // Another window's files come as themselves rather than as its exported copies.
    const QString flexFiles = QString::fromLatin1(FlexFilesMimeType);
    if (event->mimeData()->hasFormat(flexFiles))
        emit flexFilesDropped(event->mimeData()->data(flexFiles));
    else
        emit filesDropped(DroppedFiles(event));
}
