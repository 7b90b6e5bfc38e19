#pragma once

#include "packages/about_window/about_window_model.h"

#include <QWidget>

#include <memory>

namespace vantrel {

// The content of the about window, 572 by 320: the icon on the left; on the right a scrolling
// column with the name, the version line, the credits and the contact links, and the copyright
// line under it; the model's footer bar across the bottom. The view reads the model once, when it
// is made: a later change of the icon shows in the next view made for the model.
class AboutWindowView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize fixedSize{572, 320};

    explicit AboutWindowView(std::shared_ptr<QorAboutWindow> model, QWidget* parent = nullptr);

    const std::shared_ptr<QorAboutWindow>& model() const { return m_model; }

private:
    QWidget* makeInformationColumn();
    QWidget* makeContactSection();

    const std::shared_ptr<QorAboutWindow> m_model;
};

} // namespace vantrel
