#pragma once

// The lamp beside the buttons: grey without an image, red for one open read-only, green for one
// open for writing. Drawn round, on a see-through ground, at whatever scale the screen has.

#include <QWidget>

class CStatusLamp : public QWidget {
    Q_OBJECT
public:
    explicit CStatusLamp(QWidget* parent = nullptr);

    // IDB_NO_IMAGE, IDB_READ_ONLY or IDB_READ_WRITE (any other shows the grey lamp).
    void SetBitmap(int bitmapId);
    int Bitmap() const { return m_nBitmapId; }

    // Draws the lamp into a `size` square of `painter`.
    static void Paint(QPainter& painter, int bitmapId, int size);

    QSize sizeHint() const override { return {15, 15}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_nBitmapId;
};
