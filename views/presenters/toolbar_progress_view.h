#pragma once

#include "actions/toolbar_progress.h"

#include <QPointer>
#include <QWidget>

namespace vantrel {

// The toolbar's view of a progress indicator, rebuilt on every change of state: empty when idle;
// when busy, a small spinner followed by the state's text, aligned to the right. It stays empty
// once the indicator is gone.
class ToolbarProgressView final : public QWidget {
    Q_OBJECT
public:
    explicit ToolbarProgressView(ToolbarProgressIndicator* indicator, QWidget* parent = nullptr);

private:
    void clear();
    void rebuild();

    QPointer<ToolbarProgressIndicator> m_indicator;
    QWidget* m_content = nullptr;
};

} // namespace vantrel
