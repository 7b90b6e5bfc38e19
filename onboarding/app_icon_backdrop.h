#pragma once

#include <QPainterPath>
#include <QPixmap>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <array>

class QWindow;

namespace vantrel {

// The large, soft outline of the application's icon, in the brand colour, that stands near the
// top of the welcome page. Its blur follows the pointer: strongest (radius 20) with the pointer at
// the icon's centre, easing linearly to a floor of 10 at 100 points and beyond.
//
// The outline is blurred once per pixel ratio at a few fixed radii, and each frame shows the one
// nearest the radius the pointer asks for. The pointer is followed anywhere over the window (the
// page's widgets stand in front of the backdrop); until it has moved, it counts as being at the
// centre, so the icon starts at its strongest blur.
class AppIconBackdrop : public QWidget {
    Q_OBJECT
public:
    static constexpr double minRadius = 10;
    static constexpr double maxRadius = 20;
    static constexpr double maxDistance = 200;
    static constexpr int levelCount = 5;
    static constexpr double iconSide = 180;
    static constexpr double iconTopPadding = 25;
    static constexpr double horizontalPadding = 16;
    static constexpr double opacity = 0.8;

    // The icon's closed outline laid out in a rectangle of `size`: each point is a fraction of
    // the width and height, measured from (0, 0).
    static QPainterPath outline(QSizeF size);
    // The blur radius of `level` (0 sharpest, levelCount - 1 softest), and the level nearest
    // a radius.
    static double levelRadius(int level);
    static int levelForRadius(double radius);

    explicit AppIconBackdrop(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The icon's square, at the top of the widget and centred across it.
    QRectF iconFrame() const;
    // The last pointer position, measured from the centre of the icon's square.
    QPointF pointerPosition() const { return m_pointer; }
    // The radius the pointer asks for, and the pre-blurred level shown for it.
    double blurRadius() const;
    int blurLevel() const;
    // Takes a pointer position in this widget's coordinates; the window's pointer moves arrive here.
    void trackPointer(QPointF position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchWindow();
    const QPixmap& levelPixmap(int level);

    QPointF m_pointer;
    QPointer<QWindow> m_watched;
    std::array<QPixmap, levelCount> m_levels;
    qreal m_levelRatio = 0;
};

} // namespace vantrel
