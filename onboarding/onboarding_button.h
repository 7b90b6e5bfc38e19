#pragma once

#include <QColor>
#include <QMargins>
#include <QPixmap>
#include <QPushButton>

#include <optional>

namespace vantrel {

// The large, translucent buttons of the onboarding: a wide pill of pale blue-grey tint with a
// faint light border and a soft one-point shadow, in two heights. The tint doubles while the
// button is held down and almost vanishes while it is disabled (also through a disabled parent);
// border, shadow and corners never change. The label is the caller's: its text, icon, font and
// text colour (the palette's button text).
class OnboardingButton : public QPushButton {
    Q_OBJECT
public:
    // The two heights, in points.
    enum class Height { tall = 42, compact = 32 };
    // The height of exactly 42 or 32 points; none for any other number.
    static std::optional<Height> heightForPoints(double points);

    static constexpr int minimumWidth = 304;
    static constexpr int horizontalPadding = 8;
    static constexpr int verticalPadding = 4;
    static constexpr double cornerRadius = 8;

    static QColor fillColor();
    static QColor shadowColor();
    // The opacity of the tint for a button in these states.
    static double fillOpacity(bool pressed, bool enabled);

    OnboardingButton(const QString& text, Height height, QWidget* parent = nullptr);

    Height buttonHeight() const { return m_height; }

    // The pill: 304 points wide, or wider for a label that needs more; always the height's
    // points high. The widget is the pill with room around it for the shadow (shadowMargins).
    QRectF pillRect() const;
    static QMargins shadowMargins();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    const QPixmap& shadowPixmap();

    Height m_height;
    QPixmap m_shadow;
};

} // namespace vantrel
