#include "views/presenters/sheet_dialog.h"

#include "actions/overloaded.h"
#include "views/detail/add_existing_version_bundle_view.h"
#include "views/detail/name_input_view.h"

#include <QDialog>
#include <QVBoxLayout>

namespace vantrel {

namespace {

// The closure a naming sheet hands its name to; empty for a sheet that asks for no name.
std::function<void(QString)> nameReceiver(const SheetModel::Sheet& sheet)
{
    return std::visit(Overloaded{
                          [](const SheetModel::AddExisting&) { return std::function<void(QString)>(); },
                          [](const SheetModel::RenameItem& rename) { return rename.rename; },
                          [](const auto& naming) { return naming.create; },
                      },
                      sheet);
}

QDialog* makeDialog(QWidget* window)
{
    auto* dialog = new QDialog(window);
    dialog->setObjectName(QStringLiteral("sheet"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    return dialog;
}

QDialog* openAddExisting(SheetModel* model, const SheetModel::AddExisting& sheet, QWidget* window, AlertModel* alert,
                         ToolbarProgressIndicator* progress)
{
    QDialog* dialog = makeDialog(window);
    auto* view = new AddExistingVersionBundleView(sheet.picker, alert, progress, dialog);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    const auto presented = presentedFlag(model);
    QObject::connect(dialog, &QDialog::finished, dialog, [presented] { presented.set(false); });
    // Closes this dialog only: a sheet opened since is another dialog, left alone.
    QObject::connect(view, &AddExistingVersionBundleView::dismissRequested, dialog, &QDialog::reject);
    dialog->open();
    return dialog;
}

} // namespace

QDialog* openSheetDialog(SheetModel* model, QWidget* window, const QIcon& appIcon, AlertModel* alert,
                         ToolbarProgressIndicator* progress)
{
    if (!model || !model->sheet())
        return nullptr;
    const SheetModel::Sheet sheet = *model->sheet();
    if (const auto* addExisting = std::get_if<SheetModel::AddExisting>(&sheet);
        addExisting && addExisting->picker && alert && progress)
        return openAddExisting(model, *addExisting, window, alert, progress);
    const std::optional<NameInput> input = nameInput(sheet);
    if (!input) {
        // Not left pending where nothing shows it.
        presentedFlag(model).set(false);
        return nullptr;
    }

    QDialog* dialog = makeDialog(window);
    auto* view = new NameInputView(*input, forbiddenCharacters(sheet), appIcon, dialog);
    dialog->setWindowTitle(view->title());
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    // Most naming sheets keep their ideal size; the others start at it and then take the view's
    // own least and greatest sizes (the view keeps its width and may grow taller).
    layout->setSizeConstraint(input->fixedToIdealSize ? QLayout::SetFixedSize : QLayout::SetMinAndMaxSize);
    layout->addWidget(view);

    const auto presented = presentedFlag(model);
    QObject::connect(dialog, &QDialog::finished, dialog, [presented] { presented.set(false); });
    QObject::connect(view, &NameInputView::cancelled, dialog, &QDialog::reject);
    QObject::connect(view, &NameInputView::confirmed, dialog,
                     [dialog, receive = nameReceiver(sheet)](const QString& name) {
                         // The sheet closes first; what the name starts may show a sheet or dialog of its own.
                         dialog->accept();
                         if (receive)
                             receive(name);
                     });
    dialog->open();
    return dialog;
}

} // namespace vantrel
