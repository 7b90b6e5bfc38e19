#include "views/team/item_list_view.h"

#include "model/versioned_item.h"
#include "open_team/navigation_model.h"
#include "views/team/item_list_model.h"
#include "views/team/item_row_delegate.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScopedValueRollback>

namespace vantrel {

ItemListView::ItemListView(NavigationModel& navigation, ContentViewFocus focusIdentifier, qreal iconPadding,
                           QWidget* parent)
    : QListView(parent),
      m_navigation(&navigation),
      m_focusIdentifier(focusIdentifier),
      m_model(new ItemListModel(this))
{
    setModel(m_model);
    setItemDelegate(new ItemRowDelegate(iconPadding, this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setUniformItemSizes(false);
    setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &ItemListView::selectionMoved);
    // When the selected row goes, Qt selects a neighbouring one. That is no choice of the user's:
    // the owner shows what is selected once the list has changed.
    connect(m_model, &ItemListModel::updating, this, [this](bool updating) { m_updating = updating; });
    connect(&navigation, &NavigationModel::focusChanged, this, &ItemListView::followFocus);
    followFocus();
}

ItemListView::~ItemListView() = default;

void ItemListView::showSelection(const std::optional<IdFor<VersionBundle>>& id)
{
    if (selectedID() == id)
        return;
    const QScopedValueRollback guard(m_showing, true);
    const int row = id ? m_model->rowOf(*id) : -1;
    if (row < 0) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    const QModelIndex index = m_model->index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

std::optional<IdFor<VersionBundle>> ItemListView::selectedID() const
{
    const auto rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const auto item = m_model->item(rows.first().row());
    return item ? std::optional(item->id()) : std::nullopt;
}

void ItemListView::selectionMoved()
{
    if (m_showing || m_updating || !m_hooks.chosen)
        return;
    m_hooks.chosen(selectedID());
}

void ItemListView::followFocus()
{
    if (!m_navigation)
        return;
    if (m_navigation->focus() == m_focusIdentifier)
        setFocus(Qt::OtherFocusReason);
    else if (hasFocus())
        clearFocus();
}

void ItemListView::showEvent(QShowEvent* event)
{
    QListView::showEvent(event);
    followFocus();
}

// Only the user's own moves name the pane: focus given back when a menu closes or the window is
// activated again returns to the pane that had it, and followFocus() already matches the model.
// A list without a selected item names nothing, so the header keeps the item it shows (the
// collection over its document list) until a row is chosen.
void ItemListView::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    if (!selectedID())
        return;
    switch (event->reason()) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        if (m_navigation && m_navigation->focus() != m_focusIdentifier)
            m_navigation->setFocus(m_focusIdentifier);
        break;
    default:
        break;
    }
}

// Group headers are passed over: the move goes on in its direction to the next item row, and
// stays where it was when there is none.
QModelIndex ItemListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex target = QListView::moveCursor(action, modifiers);
    if (!target.isValid() || !m_model->isHeader(target.row()))
        return target;
    const bool backwards =
        action == MoveUp || action == MoveLeft || action == MovePrevious || action == MovePageUp || action == MoveEnd;
    const int step = backwards ? -1 : 1;
    for (int row = target.row() + step; row >= 0 && row < m_model->rowCount(); row += step) {
        if (!m_model->isHeader(row))
            return m_model->index(row);
    }
    return currentIndex();
}

void ItemListView::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() && !m_model->isHeader(index.row()) && m_hooks.clicked)
        m_hooks.clicked(index.row());
    if (event->button() == Qt::LeftButton)
        QListView::mousePressEvent(event);
    else
        event->accept(); // a right click opens the menu without selecting
}

void ItemListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid() && !m_model->isHeader(index.row())
        && m_hooks.doubleClicked)
        m_hooks.doubleClicked(index.row());
}

void ItemListView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Delete) || event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        if (m_hooks.deleteRequested)
            m_hooks.deleteRequested();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

QMenu* ItemListView::contextMenu(int row, QWidget* parent)
{
    if (!m_model->item(row) || !m_hooks.menu)
        return nullptr;
    return m_hooks.menu(row, parent);
}

void ItemListView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    if (QMenu* menu = contextMenu(index.row(), this)) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }
}

} // namespace vantrel
