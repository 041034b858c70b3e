#include "ui/TitleTip.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
// No active window of ours: another application has the user's attention.
bool applicationActive() {
    return QApplication::activeWindow() != nullptr;
}
} // namespace

CTitleTip::CTitleTip(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowDoesNotAcceptFocus),
      m_crBack(palette().color(QPalette::Active, QPalette::Highlight)),
      m_crFore(palette().color(QPalette::Active, QPalette::HighlightedText)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
}

CTitleTip::~CTitleTip() = default;

bool CTitleTip::Create(QWidget* listWnd) {
    m_pListWnd = listWnd;
    return listWnd != nullptr;
}

void CTitleTip::Show(const QRect& cellRect, const QString& text, int offset) {
    if (!m_pListWnd || !applicationActive())
        return;
    const int w = cellRect.width();
    const int h = cellRect.height();
    m_rectHit = QRect(-offset, 0, w, h);

    const QPoint topLeft = m_pListWnd->mapToGlobal(cellRect.topLeft());
    const QFont font = m_pListWnd->font();
    const int t = QFontMetrics(font).horizontalAdvance(text);
    if (t <= w - 2 * offset - 2)
        return;

    m_strText = text;
    setFont(font);
    setGeometry(topLeft.x() + offset - m_nTextMargin, topLeft.y(), t + 2 * m_nTextMargin + 2, h);
    show();
    raise();
    update();
    grabMouse();
    // Keys and the application losing the user's attention end the tip wherever they arrive.
    qApp->installEventFilter(this);
}

void CTitleTip::Hide() {
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    hide();
}

void CTitleTip::hideEvent(QHideEvent* event) {
    qApp->removeEventFilter(this);
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    QWidget::hideEvent(event);
}

void CTitleTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Active, QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    const QRect client = rect().adjusted(Border, Border, -Border, -Border);
    if (m_hBackBrush.style() != Qt::NoBrush) {
        painter.fillRect(client, m_crBack);
        painter.setPen(m_crFore);
    } else {
        painter.fillRect(client, palette().color(QPalette::Active, QPalette::ToolTipBase));
        painter.setPen(palette().color(QPalette::Active, QPalette::ToolTipText));
    }
    painter.setFont(font());
    painter.drawText(client.adjusted(m_nTextMargin, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_strText);
}

QWidget* CTitleTip::WidgetUnder(const QPoint& globalPos) const {
    QWidget* widget = QApplication::widgetAt(globalPos);
    if (widget == this)
        return m_pListWnd;
    return widget;
}

void CTitleTip::mouseMoveEvent(QMouseEvent* event) {
    const QPoint client = event->position().toPoint() - QPoint(Border, Border);
    if (applicationActive() && m_rectHit.contains(client))
        return;
    Hide();
    // The move that left the cell belongs to whatever lies beneath.
    const QPointF global = event->globalPosition();
    QWidget* target = WidgetUnder(global.toPoint());
    if (!target)
        return;
    QCoreApplication::postEvent(
        target, new QMouseEvent(QEvent::MouseMove, target->mapFromGlobal(global), global,
                                Qt::NoButton, event->buttons(), event->modifiers()));
}

// The window system does not always make a second press on the tip a double click (the tip
// comes up again under the first): a press soon after one on the same spot is one here.
void CTitleTip::mousePressEvent(QMouseEvent* event) {
    const QStyleHints* hints = QGuiApplication::styleHints();
    const QPointF moved = event->globalPosition() - m_ptLastPress;
    const bool second =
        event->button() == m_nLastPressButton &&
        event->timestamp() - m_nLastPressTime <= ulong(hints->mouseDoubleClickInterval()) &&
        std::max(std::abs(moved.x()), std::abs(moved.y())) <= hints->mouseDoubleClickDistance();
    m_nLastPressButton = second ? Qt::NoButton : event->button();
    m_nLastPressTime = event->timestamp();
    m_ptLastPress = event->globalPosition();
    ForwardButton(event);
    if (second) {
        QMouseEvent doubleClick(QEvent::MouseButtonDblClick, event->position(),
                                event->globalPosition(), event->button(), event->buttons(),
                                event->modifiers());
        doubleClick.setTimestamp(event->timestamp());
        ForwardButton(&doubleClick);
    }
}

void CTitleTip::mouseReleaseEvent(QMouseEvent* event) {
    ForwardButton(event);
}

void CTitleTip::mouseDoubleClickEvent(QMouseEvent* event) {
    m_nLastPressButton = Qt::NoButton;
    ForwardButton(event);
}

// A click on the tip is a click on the list at the same point: it selects the row beneath and
// the tip stays. A click anywhere else ends the tip and reaches the widget that was clicked.
void CTitleTip::ForwardButton(QMouseEvent* event) {
    const QPointF global = event->globalPosition();
    QWidget* target = WidgetUnder(global.toPoint());
    if (!applicationActive() || target != m_pListWnd)
        Hide();
    if (!target)
        return;
    // A press gives the focus as a press on the widget itself would.
    if (event->type() == QEvent::MouseButtonPress)
        for (QWidget* w = target; w && !w->isWindow(); w = w->parentWidget())
            if (w->focusPolicy() & Qt::ClickFocus) {
                w->setFocus(Qt::MouseFocusReason);
                break;
            }
    QMouseEvent forwarded(event->type(), target->mapFromGlobal(global), global, event->button(),
                          event->buttons(), event->modifiers());
    QCoreApplication::sendEvent(target, &forwarded);
    if (isVisible() && !QWidget::mouseGrabber())
        grabMouse();
}

// The wheel scrolls the list from under the tip, whose cell then moves away.
void CTitleTip::wheelEvent(QWheelEvent* event) {
    const QPointF global = event->globalPosition();
    Hide();
    QWidget* target = WidgetUnder(global.toPoint());
    if (!target)
        return;
    QWheelEvent forwarded(target->mapFromGlobal(global), global, event->pixelDelta(),
                          event->angleDelta(), event->buttons(), event->modifiers(), event->phase(),
                          event->inverted());
    QCoreApplication::sendEvent(target, &forwarded);
}

bool CTitleTip::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ApplicationDeactivate:
        Hide();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
