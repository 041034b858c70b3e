#pragma once

// Dialog units to pixels, from the dialog font as Windows converts them: x * average character
// width / 4, y * character height / 8.

#include "ui/ControlIds.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

class QLabel;
class QPushButton;

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int baseWidth() const { return width_; }
    int baseHeight() const { return height_; }

    QRect rect(int x, int y, int w, int h) const;
    QSize size(int w, int h) const;

private:
    int width_;
    int height_;
};

// Places a control of `dialog` at a template position (dialog units of the dialog's font) and
// gives it its template id. Every dialog builds its controls through these.
template <typename Control>
Control* placeControl(QWidget* dialog, Control* control, int id, int x, int y, int w, int h) {
    control->setGeometry(DialogUnits(dialog->font()).rect(x, y, w, h));
    control->setProperty(ControlIdProperty, id);
    return control;
}
QLabel* addStatic(QWidget* dialog, int id, const QString& text, int x, int y, int w, int h);
QPushButton* addButton(QWidget* dialog, int id, const QString& text, int x, int y, int w, int h);

// The dialog font of the templates: "MS Sans Serif" 8, or the closest sans-serif face here.
QFont dialogFont();
