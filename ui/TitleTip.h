#pragma once

// A small bordered window that shows the whole text of a list cell too narrow for it, over
// the cell itself. It never takes the focus; while it is up it holds the mouse and hands every
// click on to the list beneath, so it never gets in the user's way.

#include <QBrush>
#include <QColor>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

class CTitleTip : public QWidget {
    Q_OBJECT
public:
    // A window of its own, kept by `owner`: a modal window of ours then still lets its input
    // through.
    explicit CTitleTip(QWidget* owner);
    ~CTitleTip() override;

    // `listWnd` is the widget whose cells the tip covers (the list's viewport): cell rectangles
    // are in its coordinates, its font measures the text, and clicks on the tip go to it.
    bool Create(QWidget* listWnd);

    // With a brush set the tip paints opaque in the back and fore colours; without one it
    // shows the tooltip colours.
    void SetBackBrush(const QBrush& brush) { m_hBackBrush = brush; }
    void SetBackColor(const QColor& colour) { m_crBack = colour; }
    void SetForeColor(const QColor& colour) { m_crFore = colour; }

    // Shows `text` over `cellRect` when it is wider than the cell leaves room for; `offset` is
    // where the cell's own text starts. Does nothing while the application is inactive.
    void Show(const QRect& cellRect, const QString& text, int offset);
    // Hides the tip and lets go of the mouse.
    void Hide();

    // Where mouse movement keeps the tip up, in client coordinates (inside the border).
    QRect HitRect() const { return m_rectHit; }
    QString Text() const { return m_strText; }

    static constexpr int Border = 1;

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* WidgetUnder(const QPoint& globalPos) const;
    void ForwardButton(QMouseEvent* event);

    QPointer<QWidget> m_pListWnd;
    QRect m_rectHit;
    QBrush m_hBackBrush;
    QColor m_crBack;
    QColor m_crFore;
    int m_nTextMargin = 2;
    QString m_strText;
    // The last press on the tip, to know the second of a double click.
    Qt::MouseButton m_nLastPressButton = Qt::NoButton;
    ulong m_nLastPressTime = 0;
    QPointF m_ptLastPress;
};
