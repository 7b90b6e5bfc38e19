#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QPointF>
#include <QSizeF>
#include <QWidget>

namespace vantrel {

// The decorative backdrop of the onboarding: three large, softly blurred blobs of colour, one
// magenta and two cyan, that show as a glow along the lower part of the onboarding's
// 385 x 527 frame. It has no inputs and always looks the same.
//
// The widget asks for the frame's size; given more room, it keeps the frame centred and the blobs
// run on past the frame's bottom and sides. The picture is drawn and blurred once per size (and
// pixel ratio) and kept; a frame only copies it.
class OnboardingBackground : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize frameSize{385, 527};
    static constexpr double blurRadius = 50.5;
    static constexpr int blobCount = 3;

    // One blob: its outline (see outline()), where that outline is drawn from the origin of its
    // frame, its colour and its frame's size; the frames are centred on the frame of the view.
    struct Blob {
        QPointF offset;
        QColor color;
        QSizeF frame;
    };
    static Blob blob(int index);
    // The closed outline of blob `index` (0 to 2) laid out in a rectangle of `size`: each point
    // is a fraction of the width and height, measured from (0, 0). The outlines reach far outside
    // that rectangle.
    static QPainterPath outline(int index, QSizeF size);

    // The background of a widget of `size`, blurred, for a screen of `devicePixelRatio`.
    static QImage render(QSize size, qreal devicePixelRatio = 1.0);

    explicit OnboardingBackground(QWidget* parent = nullptr);

    QSize sizeHint() const override { return frameSize; }
    QSize minimumSizeHint() const override { return {0, 0}; }

    // How often the picture has been drawn; a repaint at the same size does not draw it again.
    int renderCount() const { return m_renderCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_cache;
    int m_renderCount = 0;
};

} // namespace vantrel
