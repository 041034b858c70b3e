#pragma once

// Dialog units to pixels, from the dialog font as Windows converts them: x * average character
// width / 4, y * character height / 8.

#include <QFont>
#include <QRect>
#include <QSize>

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

// The dialog font of the templates: "MS Sans Serif" 8, or the closest sans-serif face here.
QFont dialogFont();
