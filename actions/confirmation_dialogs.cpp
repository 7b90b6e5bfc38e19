#include "actions/confirmation_dialogs.h"

#include "actions/overloaded.h"
#include "model/strings.h"
#include "model/text_format.h"

namespace vantrel {

namespace {

// "`Name`" for one item, "N Items" for several, nothing for none.
QString describeItems(const QList<VersionBundle::Summary>& items)
{
    if (items.isEmpty())
        return {};
    if (items.size() == 1)
        return QLatin1Char('`') + items.first().name() + QLatin1Char('`');
    return formatText(Strings::itemCountOther(), items.size());
}

// The confirm button of a question whose action destroys or takes something.
ButtonAction destroying(QString title, std::function<void()> action)
{
    return ButtonAction{.title = std::move(title), .action = std::move(action), .destroys = true};
}

QString upgradeWarning(const AppVersionAware& item)
{
    const DocumentApplication application = item.application();
    if (!application.name)
        return {};
    const QString installedVersion =
        application.installed ? application.installed->version.value_or(QString()) : QString();
    return formatText(Strings::upgradeWarningMessage(), *application.name, installedVersion, *application.name,
                      application.writerVersion.value_or(QString()));
}

} // namespace

QString ConfirmationDialog::title() const
{
    return std::visit(Overloaded{
                          [](const ConfirmItemUpdate&) { return Strings::upgradeAlertTitle(); },
                          [](const ConfirmForceUnlock& c) {
                              return formatText(Strings::forceUnlockConfirmationTitle(), c.item->name());
                          },
                          [](const auto&) { return Strings::areYouSureTitle(); },
                      },
                      m_question);
}

QString ConfirmationDialog::messageText() const
{
    return std::visit(
        Overloaded{
            [](const ConfirmRemove& c) {
                return formatText(Strings::removeConfirmationMessage(), c.item->name(), c.from->name());
            },
            [](const ConfirmDelete& c) {
                return formatText(Strings::moveToTrashConfirmationMessage(), c.item->name());
            },
            [](const ConfirmItemUpdate& c) { return upgradeWarning(*c.item); },
            [](const ConfirmDiscardChanges& c) { return formatText(Strings::discardChangesMessage(), c.item->name()); },
            [](const ConfirmForceUnlock& c) {
                return formatText(Strings::forceUnlockExplainer(), c.item->name(), c.item->name());
            },
            [](const ConfirmRevert& c) { return formatText(Strings::revertConfirmationMessage(), c.item->name()); },
            [](const ConfirmPermanentlyDelete& c) {
                return formatText(Strings::permanentDeleteMessage(), describeItems(c.items));
            },
        },
        m_question);
}

ButtonAction ConfirmationDialog::confirmButton() const
{
    return std::visit(
        Overloaded{
            [](const ConfirmRemove& c) { return destroying(Strings::yesButtonTitle(), c.remove); },
            [](const ConfirmDelete& c) { return destroying(Strings::yesButtonTitle(), c.remove); },
            [](const ConfirmItemUpdate& c) {
                return ButtonAction{Strings::continueButtonTitle(), c.update};
            },
            [](const ConfirmDiscardChanges& c) { return destroying(Strings::discardButtonTitle(), c.cancelCheckout); },
            [](const ConfirmForceUnlock& c) { return destroying(Strings::forceUnlockButtonTitle(), c.forceUnlock); },
            [](const ConfirmRevert& c) {
                return ButtonAction{Strings::revertButtonTitle(), c.revert};
            },
            [](const ConfirmPermanentlyDelete& c) {
                return destroying(Strings::deleteActionTitle(), c.permanentlyDelete);
            },
        },
        m_question);
}

ConfirmationDialogModel::ConfirmationDialogModel(QObject* parent) : ObservableObject(parent) {}

void ConfirmationDialogModel::setDialog(std::optional<ConfirmationDialog> dialog)
{
    m_dialog = std::move(dialog);
}

PresentedFlag<ConfirmationDialogModel> presentedFlag(ConfirmationDialogModel* model)
{
    return PresentedFlag<ConfirmationDialogModel>(
        model, [](const ConfirmationDialogModel& dialogs) { return dialogs.dialog().has_value(); },
        [](ConfirmationDialogModel& dialogs) { dialogs.setDialog(std::nullopt); });
}

} // namespace vantrel
