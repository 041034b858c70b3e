#pragma once

#include <QDialog>

// The About box: the icon, the version line, a disclaimer and acknowledgements.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
