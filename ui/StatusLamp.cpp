#include "ui/StatusLamp.h"

#include "ui/ControlIds.h"

#include <QPainter>
#include <QRadialGradient>

namespace {

struct LampColours {
    QColor shine;
    QColor body;
    QColor shade;
    const char* state;
};

LampColours coloursOf(int bitmapId) {
    switch (bitmapId) {
    case IDB_READ_ONLY:
        return {QColor(255, 255, 0), QColor(255, 0, 0), QColor(128, 0, 0),
                "Disk image open read-only"};
    case IDB_READ_WRITE:
        return {QColor(255, 255, 255), QColor(0, 255, 0), QColor(0, 128, 0),
                "Disk image open for changes"};
    default:
        return {QColor(192, 192, 192), QColor(128, 128, 128), QColor(0, 0, 0),
                "No disk image open"};
    }
}

} // namespace

CStatusLamp::CStatusLamp(QWidget* parent) : QWidget(parent) {
    SetBitmap(IDB_NO_IMAGE);
}

void CStatusLamp::SetBitmap(int bitmapId) {
    m_nBitmapId = bitmapId;
    setProperty("bitmapId", bitmapId);
    setAccessibleName(QString::fromLatin1(coloursOf(bitmapId).state));
    update();
}

void CStatusLamp::Paint(QPainter& painter, int bitmapId, int size) {
    const LampColours colours = coloursOf(bitmapId);
    const QRectF disc(0.5, 0.5, size - 1.0, size - 1.0);
    // Lit from the upper left, as the dialog's other controls are.
    QRadialGradient light(disc.center(), size / 2.0, disc.topLeft() + QPointF(size, size) * 0.33);
    light.setColorAt(0.0, colours.shine);
    light.setColorAt(0.45, colours.body);
    light.setColorAt(1.0, colours.shade);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(128, 128, 128), 1.0));
    painter.setBrush(light);
    painter.drawEllipse(disc);
    painter.restore();
}

void CStatusLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Paint(painter, m_nBitmapId, std::min(width(), height()));
}
