#include "app/selected_item_menu.h"

#include "actions/selected_item_commands.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "open_team/team.h"

#include <QAction>
#include <QMenu>

namespace vantrel {

namespace {

const QString ellipsis = QStringLiteral("...");

// An item of `menu` that runs `run` with the team and the item it was built for, while both
// still exist.
template<typename Item, typename Run>
QAction* addItem(QMenu* menu, const QString& objectName, const QString& title, const QKeySequence& shortcut,
                 const std::shared_ptr<Team>& team, const std::shared_ptr<Item>& item, Run run)
{
    QAction* action = menu->addAction(title);
    action->setObjectName(objectName);
    action->setShortcut(shortcut);
    QObject::connect(action, &QAction::triggered,
                     [weakTeam = std::weak_ptr<Team>(team), weakItem = std::weak_ptr<Item>(item), run] {
                         const auto team = weakTeam.lock();
                         const auto item = weakItem.lock();
                         if (team && item)
                             run(team->itemActions(), item);
                     });
    return action;
}

QKeySequence keys(QKeyCombination combination)
{
    return QKeySequence(combination);
}

} // namespace

void SelectedItemMenu::build(QMenu* menu, const std::shared_ptr<Team>& team)
{
    m_open = m_openCopy = m_newEvent = m_addExisting = nullptr;
    m_document.reset();
    NavigationModel& navigation = team->navigation();

    if (const auto focused = navigation.focusedItem()) {
        const QString title =
            formatText(Strings::renameActionTitle() + ellipsis, focused->documentType().shortDescription());
        addItem(menu, QStringLiteral("renameAction"), title, keys(Qt::CTRL | Qt::Key_R), team, focused,
                [](ItemActions& actions, const std::shared_ptr<VersionedItem>& item) { actions.rename()(item); });
    }

    using DocumentPtr = std::shared_ptr<Document>;
    using CollectionPtr = std::shared_ptr<Collection>;
    if (const DocumentPtr document = navigation.selectedDocument()) {
        m_document = document;
        m_open = addItem(menu, QStringLiteral("openAction"),
                         formatText(Strings::openActionTitle(), document->documentType().shortDescription()),
                         keys(Qt::CTRL | Qt::Key_O), team, document, [](ItemActions& actions, const DocumentPtr& item) {
                             SelectedItemCommands::checkOut(item, actions.checkOut());
                         });
        m_openCopy = addItem(menu, QStringLiteral("openCopyAction"), Strings::openTemporaryCopyActionTitle(),
                             keys(Qt::SHIFT | Qt::CTRL | Qt::Key_O), team, document,
                             [](ItemActions& actions, const DocumentPtr& item) {
                                 SelectedItemCommands::openCopy(item, std::nullopt, actions.openCopy());
                             });
        addItem(menu, QStringLiteral("exportAction"), Strings::exportActionTitle() + ellipsis,
                keys(Qt::SHIFT | Qt::CTRL | Qt::Key_E), team, document,
                [](ItemActions& actions, const DocumentPtr& item) {
                    SelectedItemCommands::exportItem(item, std::nullopt, actions.exportVersion());
                });
        if (document->documentType().isLibrary() && document->versioningService()->canCreateFCPEvent()) {
            m_newEvent =
                addItem(menu, QStringLiteral("newEventAction"),
                        Strings::newEventCreateButton(DocumentType::event().shortDescription()) + ellipsis,
                        keys(Qt::CTRL | Qt::Key_E), team, document, [](ItemActions& actions, const DocumentPtr& item) {
                            SelectedItemCommands::askNewEvent(item, actions.newFinalCutEvent());
                        });
        }
        m_addExisting = addItem(menu, QStringLiteral("addExistingAction"), Strings::addExistingActionTitle() + ellipsis,
                                keys(Qt::SHIFT | Qt::CTRL | Qt::Key_A), team, document,
                                [](ItemActions& actions, const DocumentPtr& item) {
                                    SelectedItemCommands::addExisting(item, actions.addExistingItem());
                                });
        addItem(menu, QStringLiteral("openAtticAction"), Strings::openAtticActionTitle(), QKeySequence(), team,
                document, [](ItemActions& actions, const DocumentPtr& item) {
                    SelectedItemCommands::openInAttic(item, actions.openInAttic());
                });
        updateEnablement();
    } else if (const CollectionPtr collection = navigation.selectedCollection()) {
        addItem(menu, QStringLiteral("newCollectionAction"),
                formatText(Strings::newCollectionTitle(), QList<FormatArgument>()), keys(Qt::CTRL | Qt::Key_N), team,
                collection, [](ItemActions& actions, const CollectionPtr&) {
                    SelectedItemCommands::newCollection(actions.createCollection());
                });
        addItem(menu, QStringLiteral("newLibraryAction"),
                Strings::newLibraryActionTitle(DocumentType::library().description()) + ellipsis,
                keys(Qt::SHIFT | Qt::CTRL | Qt::Key_N), team, collection,
                [](ItemActions& actions, const CollectionPtr& item) {
                    SelectedItemCommands::askNewLibrary(item, actions.newFinalCutLibrary());
                });
        addItem(menu, QStringLiteral("addExistingAction"), Strings::addExistingActionTitle() + ellipsis,
                keys(Qt::SHIFT | Qt::CTRL | Qt::Key_A), team, collection,
                [](ItemActions& actions, const CollectionPtr& item) {
                    SelectedItemCommands::addExisting(item, actions.addExistingItem());
                });
        addItem(menu, QStringLiteral("importAction"), Strings::importActionTitle() + ellipsis,
                keys(Qt::CTRL | Qt::Key_I), team, collection, [](ItemActions& actions, const CollectionPtr& item) {
                    SelectedItemCommands::importFile(item, actions.importItemFromFile());
                });
        addItem(menu, QStringLiteral("exportAction"), Strings::exportActionTitle() + ellipsis,
                keys(Qt::SHIFT | Qt::CTRL | Qt::Key_E), team, collection,
                [](ItemActions& actions, const CollectionPtr& item) {
                    SelectedItemCommands::exportItem(item, std::nullopt, actions.exportVersion());
                });
    }
}

void SelectedItemMenu::updateEnablement()
{
    const auto document = m_document.lock();
    if (!document)
        return;
    const bool canOpen = !SelectedItemCommands::isCheckOutBlocked(*document);
    for (QAction* action : {m_open.data(), m_openCopy.data()}) {
        if (action)
            action->setEnabled(canOpen);
    }
    for (QAction* action : {m_newEvent.data(), m_addExisting.data()}) {
        if (action)
            action->setEnabled(!document->isLocked());
    }
}

} // namespace vantrel
