#pragma once

#include "packages/components/control_size.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QPainter;

namespace vantrel {

// An indicator that something is going on: a spinning wheel, or an indeterminate bar.
//
// Its fields are declared like those of any other view and may be declared again later with
// setFields(). The style and the control size are applied once, when the widget is made; a later
// declaration does not restyle an existing widget. Whether it animates follows `isAnimating`,
// which is read on every update: at creation, on every setFields() and on every
// updateAnimation().
class ActivityIndicator : public QWidget {
    Q_OBJECT
public:
    enum class Style { bar, spinning };

    struct Fields {
        std::function<bool()> isAnimating;
        Style style = Style::spinning;
        ControlSize controlSize = ControlSize::regular;
    };

    explicit ActivityIndicator(Fields fields, QWidget* parent = nullptr);
    ~ActivityIndicator() override;

    // The fields as last declared.
    const Fields& fields() const { return m_fields; }
    // Declares the fields again and updates the indicator with them.
    void setFields(Fields fields);
    // Starts or stops the animation to match what `isAnimating` says now.
    void updateAnimation();

    // Whether the indicator is started. It only moves while it is also visible.
    bool isAnimating() const { return m_animating; }
    // The style and the size the indicator was made with, and is drawn in.
    Style indicatorStyle() const { return m_style; }
    ControlSize controlSize() const { return m_controlSize; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void advance();
    void updateTimer(bool visible);
    void paintSpinner(QPainter& painter);
    void paintBar(QPainter& painter);

    Fields m_fields;
    const Style m_style;
    const ControlSize m_controlSize;
    bool m_animating = false;
    int m_phase = 0;
    QTimer m_timer;
};

} // namespace vantrel
