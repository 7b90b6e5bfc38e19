#pragma once

#include <QWidget>

namespace vantrel {

// The first onboarding page: the application's icon, "Welcome to" above the product wordmark and
// a message naming the application's three concepts. It has no controls of its own.
class WelcomePage final : public QWidget {
    Q_OBJECT
public:
    explicit WelcomePage(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
