#pragma once

#include "foundation/clock.h"

#include <QWidget>

namespace vantrel {

class DocumentsIcon;

// The onboarding page that explains documents, with the spreading application logos.
class DocumentsPage final : public QWidget {
    Q_OBJECT
public:
    explicit DocumentsPage(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

    DocumentsIcon* icon() const { return m_icon; }

private:
    DocumentsIcon* m_icon;
};

} // namespace vantrel
