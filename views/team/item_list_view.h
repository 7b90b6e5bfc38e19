#pragma once

#include "engine/id_for.h"
#include "model/content_view_focus.h"

#include <QListView>
#include <QPointer>

#include <functional>
#include <optional>

class QMenu;

namespace vantrel {

class ItemListModel;
class NavigationModel;

// The list view under the team window's lists. It holds one selectable row at most, skips
// group headers when the selection moves by keyboard, and takes the keyboard focus whenever the
// navigation model's focus names its pane. The other way round, when the user gives it the keyboard
// focus (a click of any button, Tab, a shortcut) while one of its rows is selected, its pane becomes
// the focused one: the header and the Delete key then act on the same item. What the user does goes to the hooks its owner sets;
// selections its owner shows are not reported back.
class ItemListView final : public QListView {
    Q_OBJECT
public:
    struct Hooks {
        // The user changed the selection (keyboard, click, or clearing it): the row's item id.
        std::function<void(std::optional<IdFor<VersionBundle>>)> chosen;
        // A left click on an item row, before the selection follows it.
        std::function<void(int row)> clicked;
        std::function<void(int row)> doubleClicked;
        // The Delete key.
        std::function<void()> deleteRequested;
        // The context menu of an item row, owned by the caller (null for none).
        std::function<QMenu*(int row, QWidget* parent)> menu;
    };

    ItemListView(NavigationModel& navigation, ContentViewFocus focusIdentifier, qreal iconPadding,
                 QWidget* parent = nullptr);
    ~ItemListView() override;

    ItemListModel& listModel() const { return *m_model; }
    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    ContentViewFocus focusIdentifier() const { return m_focusIdentifier; }

    // Shows `id` as the selection (none clears it) without reporting it as the user's choice.
    void showSelection(const std::optional<IdFor<VersionBundle>>& id);
    std::optional<IdFor<VersionBundle>> selectedID() const;
    // The context menu of `row` as the user would get it; null for a header.
    QMenu* contextMenu(int row, QWidget* parent);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void followFocus();
    void selectionMoved();

    QPointer<NavigationModel> m_navigation;
    ContentViewFocus m_focusIdentifier;
    ItemListModel* m_model;
    Hooks m_hooks;
    bool m_showing = false;
    bool m_updating = false;
};

} // namespace vantrel
