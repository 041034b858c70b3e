#pragma once

#include "ui/Prompts.h"

// The real windows: the only place that uses QMessageBox and QFileDialog.
class QtPrompts : public Prompts {
public:
    QString openFileName(QWidget* parent, const QString& folder, const QString& filter,
                         const QString& defaultSuffix) override;
    QStringList openFileNames(QWidget* parent, const QString& folder,
                              const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& folder, const QString& initialName,
                         const QString& filter, const QString& defaultSuffix) override;
    void message(QWidget* parent, const QString& text, Icon icon) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    int runDialog(QDialog& dialog) override;
};

// The caption of every message box.
inline constexpr char MessageCaption[] = "Diskwright";
