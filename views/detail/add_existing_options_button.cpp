#include "views/detail/add_existing_options_button.h"

#include "actions/add_existing_version_bundle.h"
#include "design/icon_provider.h"
#include "model/strings.h"

#include <QActionGroup>
#include <QMenu>
#include <QStyleOptionMenuItem>
#include <QToolButton>

namespace vantrel {

namespace {

// Wide enough for the title of a section of `menu` in full: the style sizes a menu by its items
// and leaves a section's title out, which cuts a title longer than every item.
void fitSectionTitle(QMenu& menu, const QString& title)
{
    QStyleOptionMenuItem item;
    item.initFrom(&menu);
    item.menuItemType = QStyleOptionMenuItem::Normal;
    item.text = title;
    item.font = menu.font();
    item.fontMetrics = menu.fontMetrics();
    const QSize text(menu.fontMetrics().horizontalAdvance(title), menu.fontMetrics().height());
    const QSize row = menu.style()->sizeFromContents(QStyle::CT_MenuItem, &item, text, &menu);
    const int frame = menu.style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, &menu)
                      + menu.style()->pixelMetric(QStyle::PM_MenuHMargin, nullptr, &menu);
    menu.setMinimumWidth(row.width() + 2 * frame);
}

} // namespace

QToolButton* makeAddExistingOptionsButton(AddExistingVersionBundle& model, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("options"));
    button->setIcon(
        design::IconProvider::icon(QStringLiteral("slider.horizontal.3"), QColor::fromRgbF(0.7f, 0.72f, 0.79f)));
    button->setFixedSize(28, 28);
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto* menu = new QMenu(button);
    menu->addSection(Strings::alphabeticalSortingTitle());
    fitSectionTitle(*menu, Strings::alphabeticalSortingTitle());
    auto* sorting = new QActionGroup(menu);
    for (const SortingOptions option : allCases<SortingOptions>()) {
        QAction* action = menu->addAction(option == SortingOptions::ascending ? Strings::ascendingTitle()
                                                                              : Strings::descendingTitle());
        action->setCheckable(true);
        action->setChecked(model.sortingOptions() == option);
        sorting->addAction(action);
        QObject::connect(action, &QAction::triggered, button, [&model, option] { model.setSortingOptions(option); });
    }
    menu->addSeparator();
    auto* indexing = new QActionGroup(menu);
    for (const IndexingOptions option : {IndexingOptions::all(), IndexingOptions::trash()}) {
        QAction* action =
            menu->addAction(isTrashMode(option) ? Strings::showTrashActionTitle() : Strings::showAllActionTitle());
        action->setCheckable(true);
        action->setChecked(model.indexingOptions() == option);
        indexing->addAction(action);
        QObject::connect(action, &QAction::triggered, button, [&model, option] { model.setIndexingOptions(option); });
    }
    button->setMenu(menu);
    return button;
}

} // namespace vantrel
