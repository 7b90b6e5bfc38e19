#include "packages/about_window/about_window_controller.h"

#include "packages/about_window/about_window_view.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace vantrel {

namespace {

// Whether less than half of `frame` lies on any one screen's usable area.
bool mostlyOffScreen(const QRect& frame)
{
    const qint64 area = qint64(frame.width()) * frame.height();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = frame.intersected(screen->availableGeometry());
        if (2 * qint64(shown.width()) * shown.height() >= area)
            return false;
    }
    return true;
}

} // namespace

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
    // Centred when first shown only: shown again, the window stays where the user put it,
    // unless too little of it is left on a screen to take hold of (a screen gone, or smaller).
    if (m_centred && !mostlyOffScreen(m_window->frameGeometry()))
        return;
    m_centred = true;
    if (const QScreen* screen = m_window->screen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

} // namespace vantrel
