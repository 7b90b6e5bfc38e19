#include "design/scroll_bars.h"

#include "design/palette.h"

#include <QKeyEvent>
#include <QScrollBar>

#include <utility>

namespace vantrel::design {

void makeSlim(QScrollBar& bar)
{
    bar.setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px;"
                       " margin: 1px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(withOpacity(neutral(0), 0.27).name(QColor::HexArgb)));
}

bool scrollByKey(QScrollBar& bar, const QKeyEvent& event)
{
    static constexpr std::pair<int, QAbstractSlider::SliderAction> actions[] = {
        {Qt::Key_Up, QAbstractSlider::SliderSingleStepSub},   {Qt::Key_Down, QAbstractSlider::SliderSingleStepAdd},
        {Qt::Key_PageUp, QAbstractSlider::SliderPageStepSub}, {Qt::Key_PageDown, QAbstractSlider::SliderPageStepAdd},
        {Qt::Key_Home, QAbstractSlider::SliderToMinimum},     {Qt::Key_End, QAbstractSlider::SliderToMaximum},
    };
    if (event.modifiers() & ~(Qt::KeypadModifier | Qt::ControlModifier))
        return false;
    for (const auto& [key, action] : actions) {
        if (event.key() == key) {
            bar.triggerAction(action);
            return true;
        }
    }
    return false;
}

} // namespace vantrel::design
