#include "ui/ListCtrlEx.h"

#include <QHeaderView>

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    header()->setSectionsClickable(false);
    header()->setSortIndicatorShown(false);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(1); // the "R" column is narrower than the default minimum
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

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
    clear();
    setColumnCount(0);
}

void CListCtrlEx::InsertColumn(int index, const QString& title, int width) {
    QTreeWidgetItem* headings = headerItem();
    if (columnCount() <= index)
        setColumnCount(index + 1);
    headings->setText(index, title);
    headings->setTextAlignment(index, Qt::AlignLeft | Qt::AlignVCenter);
    setColumnWidth(index, width);
}

void CListCtrlEx::InsertRow(int index, const QStringList& texts) {
    auto* item = new QTreeWidgetItem(texts);
    for (int column = 0; column < texts.size(); ++column)
        item->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    insertTopLevelItem(index, item);
}
