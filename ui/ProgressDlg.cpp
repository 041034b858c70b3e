#include "ui/ProgressDlg.h"

#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

namespace {
// Steps and polls come far faster than the eye can follow: the window gets its events (paint,
// Cancel) at most this often. Each round costs a repaint, which would otherwise cost more than
// writing the image.
constexpr qint64 PumpIntervalMs = 20;
} // namespace

CProgressDlg::CProgressDlg(const QString& caption) {
    setWindowTitle(caption.isEmpty() ? QString::fromLatin1(ProgressCaption) : caption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(dialogFont());
    setProperty(ControlIdProperty, IDD_PROGRESS);
    setFixedSize(DialogUnits(font()).size(186, 79));

    cancel_ = addButton(this, IDCANCEL, QStringLiteral("Cancel"), 67, 58, 50, 14);
    // Enter must not reach Cancel: only a click, Space or Escape cancels.
    cancel_->setAutoDefault(false);
    progressBar_ = placeControl(this, new QProgressBar(this), IDC_PROGRESS_BAR, 15, 34, 154, 13);
    progressBar_->setTextVisible(false);
    progressBar_->setAccessibleName(QStringLiteral("Progress"));
    progressBar_->setRange(rangeLow_, rangeHigh_);
    progressBar_->setValue(rangeLow_);
    percent_ = addStatic(this, IDC_PROGRESS_PERCENT, QStringLiteral(" 0 %"), 85, 23, 18, 8);
    addStatic(this, IDC_PROGRESS_STATUS, QString(), 13, 7, 158, 8)
        ->setAccessibleName(QStringLiteral("Status"));
    connect(cancel_, &QPushButton::clicked, this, &CProgressDlg::OnCancel);
}

CProgressDlg::~CProgressDlg() {
    DestroyWindow();
}

bool CProgressDlg::Create(QWidget* owner) {
    if (!owner)
        owner = QApplication::activeModalWidget();
    if (owner) {
        owner_ = owner->window();
        if (owner_->isEnabled()) {
            owner_->setEnabled(false);
            ownerDisabled_ = true;
        }
    }
    // Not a child of the owner, which is disabled; modal, so that it takes input even while
    // the owner runs modally itself.
    setWindowModality(Qt::ApplicationModal);
    if (owner_) {
        const QRect area = owner_->frameGeometry();
        move(area.center() - rect().center());
        winId(); // the native window, which is told its owner's
        if (QWindow* ownerWindow = owner_->windowHandle())
            windowHandle()->setTransientParent(ownerWindow);
    }
    show();
    // The first paint waits for the first round of events: a write that is over sooner is
    // not slowed down by a window nobody could have seen.
    sincePump_.start();
    return true;
}

void CProgressDlg::DestroyWindow() {
    if (ownerDisabled_) {
        ownerDisabled_ = false;
        if (owner_)
            owner_->setEnabled(true);
    }
    hide();
}

void CProgressDlg::SetStep(int step) {
    stepSize_ = step;
}

void CProgressDlg::SetRange(int low, int high) {
    rangeLow_ = low;
    rangeHigh_ = high;
    // A position outside the new range moves to its nearest end, as the bar's does.
    if (low <= high)
        position_ = std::clamp(position_, low, high);
    progressBar_->setRange(low, high);
}

int CProgressDlg::StepIt() {
    if (!sincePump_.isValid() || sincePump_.hasExpired(PumpIntervalMs))
        PumpMessages();
    const int previous = position_;
    // Past its high end the bar starts again from its low end.
    const qint64 next = qint64{previous} + stepSize_;
    position_ = next > rangeHigh_ ? rangeLow_ : static_cast<int>(next);
    ShowPercent(static_cast<int>(next));
    return previous;
}

bool CProgressDlg::PollCancel() {
    if (!sincePump_.isValid() || sincePump_.hasExpired(PumpIntervalMs))
        PumpMessages();
    const bool requested = cancelRequested_;
    cancelRequested_ = false;
    return requested;
}

void CProgressDlg::OnCancel() {
    cancelRequested_ = true;
}

void CProgressDlg::PumpMessages() {
    // The bar follows the position only here: moving it at every step would repaint it
    // thousands of times for nothing.
    if (progressBar_->value() != position_)
        progressBar_->setValue(position_);
    QCoreApplication::processEvents();
    sincePump_.start();
}

void CProgressDlg::ShowPercent(int position) {
    if (rangeHigh_ == rangeLow_)
        return;
    qint64 percent = (qint64{position} - rangeLow_) * 100 / (qint64{rangeHigh_} - rangeLow_);
    if (percent != 100)
        percent %= 100;
    if (percent == shownPercent_)
        return;
    shownPercent_ = static_cast<int>(percent);
    const QString text = QString::asprintf("%d%c", shownPercent_, '%');
    if (percent_->text() != text)
        percent_->setText(text);
}

void CProgressDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    case Qt::Key_Escape:
        event->accept();
        OnCancel();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCancel();
}

void CProgressDlg::reject() {
    OnCancel();
}
