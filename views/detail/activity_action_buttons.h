#pragma once

#include <QWidget>

#include <functional>

class QMenu;
class QToolButton;

namespace vantrel {

// The version buttons of an activity row: Revert, and for documents a share menu with "Open a
// Temporary Copy" and "Export...". The feed decides what each one does.
class ActivityActionButtons final : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> revert;
        // Both absent for items that are not documents: no share menu.
        std::function<void()> openCopy;
        std::function<void()> exportVersion;
    };

    ActivityActionButtons(Actions actions, bool revertEnabled, QWidget* parent = nullptr);

    // The width of the buttons, with or without the share menu, from the widget font `base`.
    static int widthFor(bool withShare, const QFont& base);

    void setRevertEnabled(bool enabled);
    QToolButton* revertButton() const { return m_revert; }
    // Null for items that are not documents.
    QToolButton* shareButton() const { return m_share; }
    QMenu* shareMenu() const { return m_menu; }

private:
    QToolButton* m_revert = nullptr;
    QToolButton* m_share = nullptr;
    QMenu* m_menu = nullptr;
};

} // namespace vantrel
