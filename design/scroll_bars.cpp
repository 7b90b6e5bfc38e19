#include "design/scroll_bars.h"

#include "design/palette.h"

#include <QScrollBar>

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

} // namespace vantrel::design
