#include "views/detail/activity_controls.h"

#include "actions/item_actions.h"
#include "actions/selected_item_commands.h"
#include "design/button_styles.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "model/document.h"
#include "model/strings.h"
#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_spacer.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace vantrel {

ActivityActionButtons* makeVersionButtons(const std::shared_ptr<VersionedItem>& focused, const IdFor<Versions>& version,
                                          bool revertEnabled, ItemActions& itemActions)
{
    const std::weak_ptr<VersionedItem> weak = focused;
    ActivityActionButtons::Actions actions;
    const RevertItemAction revert = itemActions.revert();
    actions.revert = [revert, weak, version] {
        const auto item = weak.lock();
        if (!item)
            return;
        revert.showConfirmation(ConfirmationDialog(ConfirmationDialog::ConfirmRevert{item, [revert, weak, version] {
                                                                                         if (const auto item =
                                                                                                 weak.lock())
                                                                                             revert(item, version);
                                                                                     }}));
    };
    if (const auto document = std::dynamic_pointer_cast<Document>(focused)) {
        const std::weak_ptr<Document> weakDocument = document;
        const OpenItemCopyAction openCopy = itemActions.openCopy();
        actions.openCopy = [openCopy, weakDocument, version] {
            if (const auto document = weakDocument.lock())
                SelectedItemCommands::openCopy(document, version, openCopy);
        };
        const ExportItemAction exportVersion = itemActions.exportVersion();
        actions.exportVersion = [exportVersion, weak, version] {
            if (const auto item = weak.lock())
                SelectedItemCommands::exportItem(item, version, exportVersion);
        };
    }
    return new ActivityActionButtons(std::move(actions), revertEnabled);
}

QWidget* makeForceUnlockControl(const std::shared_ptr<Document>& document, ItemActions& itemActions)
{
    if (!document)
        return nullptr;
    auto* control = new QWidget;
    control->setObjectName(QStringLiteral("activityForceUnlock"));
    control->setFixedHeight(32);
    auto* layout = new QHBoxLayout(control);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new ActivitySpacer(ActivitySpacer::Position::middle, control));
    auto* button = new QPushButton(design::IconProvider::icon(QStringLiteral("lock.open"), design::neutral(1)),
                                   Strings::forceUnlockButtonTitle(), control);
    button->setObjectName(QStringLiteral("forceUnlockButton"));
    design::SmallSecondaryActionButtonLabelStyle().apply(*button);
    design::SmallSecondaryActionButtonStyle().apply(*button);
    layout->addWidget(button);
    layout->addStretch(1);
    const ForceUnlockItemAction forceUnlock = itemActions.forceUnlock();
    const std::weak_ptr<Document> weak = document;
    QObject::connect(button, &QPushButton::clicked, control, [forceUnlock, weak] {
        const auto document = weak.lock();
        if (!document)
            return;
        forceUnlock.showConfirmation(
            ConfirmationDialog(ConfirmationDialog::ConfirmForceUnlock{document, [forceUnlock, weak] {
                                                                          if (const auto document = weak.lock())
                                                                              forceUnlock(document);
                                                                      }}));
    });
    return control;
}

} // namespace vantrel
