#pragma once

#include "packages/components/activity_indicator.h"

namespace vantrel {

// A spinning wheel that is always busy: it turns from when it is shown until it is hidden or
// destroyed.
class InProgressView : public ActivityIndicator {
    Q_OBJECT
public:
    explicit InProgressView(ControlSize size, QWidget* parent = nullptr);
};

} // namespace vantrel
