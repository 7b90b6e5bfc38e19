#include "packages/about_window/about_window_controller.h"

#include "packages/about_window/about_window_view.h"

#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace vantrel {

QorAboutWindowController::QorAboutWindowController(std::shared_ptr<QorAboutWindow> model)
    : m_window(std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                                      | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint))
{
    m_window->setObjectName(QStringLiteral("AboutWindow"));
    m_window->setGeometry(QRect(QPoint(600, 600), AboutWindowView::fixedSize));
    m_window->setFixedSize(AboutWindowView::fixedSize);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new AboutWindowView(std::move(model), m_window.get()));
}

QorAboutWindowController::QorAboutWindowController(QWidget* window) : m_window(window) {}

QorAboutWindowController::~QorAboutWindowController() = default;

void QorAboutWindowController::showWindow()
{
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // Centred when first shown only: shown again, the window stays where the user put it.
    if (m_centred)
        return;
    m_centred = true;
    if (const QScreen* screen = m_window->screen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

} // namespace vantrel
