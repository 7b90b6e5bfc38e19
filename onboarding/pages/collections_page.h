#pragma once

#include "foundation/clock.h"

#include <QWidget>

namespace vantrel {

class CollectionsIcon;

// The onboarding page that explains collections, with the fanning collections icon.
class CollectionsPage final : public QWidget {
    Q_OBJECT
public:
    explicit CollectionsPage(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

    CollectionsIcon* icon() const { return m_icon; }

private:
    CollectionsIcon* m_icon;
};

} // namespace vantrel
