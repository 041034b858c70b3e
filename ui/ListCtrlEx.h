#pragma once

// The file list: a report view of rows and columns. It never sorts, and a click on a heading
// changes nothing.

#include <QStringList>
#include <QTreeWidget>

class CListCtrlEx : public QTreeWidget {
    Q_OBJECT
public:
    explicit CListCtrlEx(QWidget* parent = nullptr);

    int GetItemCount() const { return topLevelItemCount(); }
    QString GetItemText(int row, int column) const;
    bool IsRowSelected(int row) const;
    void SelectRow(int row, bool selected);

    // Removes every row and column.
    void DeleteAll();
    void InsertColumn(int index, const QString& title, int width);
    void InsertRow(int index, const QStringList& texts);
};
