#pragma once

// The progress window of a long write that runs on the window's thread: an empty status line,
// the bar, the percentage and Cancel. Each step and each Cancel poll lets waiting events run,
// so the window repaints and its Cancel button works; its owner is disabled while it is up.
// Cancel never closes it: it only raises a flag the writer reads between tracks.

#include "engine/Create.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

// Template 105 and its controls.
constexpr int IDD_PROGRESS = 105;
constexpr int IDC_PROGRESS_BAR = 1003;
constexpr int IDC_PROGRESS_PERCENT = 1004;
constexpr int IDC_PROGRESS_STATUS = 1005;

inline constexpr char ProgressCaption[] = "Formatting Virtual Floppy";

class CProgressDlg : public QDialog, public dw::ProgressSink {
    Q_OBJECT
public:
    // An empty caption means "Formatting Virtual Floppy".
    explicit CProgressDlg(const QString& caption = QString());
    ~CProgressDlg() override;

    // Shows the window and disables `owner` (by default the active modal window) until the
    // window is destroyed.
    bool Create(QWidget* owner = nullptr);
    // Closes the window and enables the owner again; the destructor does it too.
    void DestroyWindow();

    void SetStep(int step) override;
    void SetRange(int low, int high) override;
    int StepIt() override;
    bool PollCancel() override;

    // Cancel and Escape (and the window's close button): raise the flag, keep the window.
    void OnCancel();

    int Position() const { return position_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void PumpMessages();
    void ShowPercent(int position);

    int rangeLow_ = 0;
    int rangeHigh_ = 100;
    int stepSize_ = 10;
    int position_ = 0;
    int shownPercent_ = -1; // none yet: the label shows its template text
    bool cancelRequested_ = false;
    bool ownerDisabled_ = false;
    QPointer<QWidget> owner_;
    QElapsedTimer sincePump_;

    QProgressBar* progressBar_ = nullptr;
    QLabel* percent_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
