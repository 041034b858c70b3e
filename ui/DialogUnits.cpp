#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded, as Windows takes it for dialog units.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    width_ = (letters / 26 + 1) / 2;
    height_ = metrics.height();
}

QRect DialogUnits::rect(int x, int y, int w, int h) const {
    return {x * width_ / 4, y * height_ / 8, w * width_ / 4, h * height_ / 8};
}

QSize DialogUnits::size(int w, int h) const {
    return {w * width_ / 4, h * height_ / 8};
}

QFont dialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QLabel* addStatic(QWidget* dialog, int id, const QString& text, int x, int y, int w, int h) {
    auto* label = new QLabel(text, dialog);
    label->setTextFormat(Qt::PlainText);
    return placeControl(dialog, label, id, x, y, w, h);
}

QPushButton* addButton(QWidget* dialog, int id, const QString& text, int x, int y, int w, int h) {
    return placeControl(dialog, new QPushButton(text, dialog), id, x, y, w, h);
}
