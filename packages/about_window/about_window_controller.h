#pragma once

#include "packages/about_window/about_window_model.h"

#include <QString>

#include <memory>

class QWidget;

namespace vantrel {

// Shows the about window for hosts that manage their windows themselves: a window of the view's
// fixed size (titled, closable and minimisable, never resizable, without a title of its own)
// whose content is an AboutWindowView of the model. The controller owns the window; the model is
// held by the view inside it.
class QorAboutWindowController {
public:
    explicit QorAboutWindowController(std::shared_ptr<QorAboutWindow> model);
    // Takes over an existing window unchanged.
    explicit QorAboutWindowController(QWidget* window);
    ~QorAboutWindowController();

    QorAboutWindowController(const QorAboutWindowController&) = delete;
    QorAboutWindowController& operator=(const QorAboutWindowController&) = delete;

    // The window's name as reported to the host: "AboutWindow". The window is built in code.
    static QString windowNibName() { return QStringLiteral("AboutWindow"); }

    QWidget* window() const { return m_window.get(); }

    // Shows the window in front and active; the first time, and whenever less than half of it
    // would be on a screen, centres it on its screen. Does nothing without a window.
    void showWindow();

private:
    std::unique_ptr<QWidget> m_window;
    bool m_centred = false;
};

} // namespace vantrel
