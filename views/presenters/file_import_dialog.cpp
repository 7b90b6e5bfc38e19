#include "views/presenters/file_import_dialog.h"

#include "model/strings.h"
#include "views/presenters/package_file_dialog.h"

#include <QLayout>

namespace vantrel {

namespace {

QString dialogTitle(FileImporter::Purpose purpose)
{
    switch (purpose) {
    case FileImporter::Purpose::openTeamBundle:
        return Strings::openTeamBundleActionTitle();
    case FileImporter::Purpose::newTeamBundleLocation:
        return Strings::newTeamBundleLocationDialogTitle();
    case FileImporter::Purpose::exportDestination:
        return Strings::exportDestinationDialogTitle();
    case FileImporter::Purpose::importDocument:
        break;
    }
    return Strings::importDocumentDialogTitle();
}

} // namespace

QFileDialog* openFileImportDialog(FileImporter* importer, std::function<void(const Error&)> failed, QWidget* window)
{
    const QStringList types = importer->allowedContentTypes();
    const QStringList packages = packagePatterns(types);
    auto* dialog = new PackageFileDialog(packages, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowTitle(dialogTitle(importer->purpose()));
    dialog->setDirectory(importer->startFolder(importer->purpose()));

    const bool onlyFolders = types == QStringList{folderContentType};
    const bool onlyPackages = !packages.isEmpty() && packages.size() == types.size();
    if (onlyFolders) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        QStringList plain = types;
        plain.removeAll(folderContentType);
        dialog->setNameFilters(fileImporterNameFilters(plain));
        // Qt's own dialog (it has a layout from the start; the desktop's has none) shows packages
        // among the files and chooses them itself. The desktop's cannot choose a folder while it
        // chooses files, and its filter would hide what a package holds: where only packages may
        // be chosen, it chooses a folder (the completion takes the package that folder is or lies in).
        const bool desktopDialog = !dialog->layout();
        dialog->setFileMode(onlyPackages && desktopDialog ? QFileDialog::Directory : QFileDialog::ExistingFile);
    }

    auto complete = makeFileImportCompletion(importer, std::move(failed));
    auto presented = presentedFlag(importer);
    auto finished = std::make_shared<bool>(false);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, presented, complete, finished](int result) {
        if (*finished)
            return;
        *finished = true;
        const QUrl url = dialog->chosenUrl();
        if (result == QDialog::Accepted && !url.isEmpty())
            complete(url); // lets go of the request, then answers it
        else
            presented.set(false);
    });
    dialog->open();
    return dialog;
}

} // namespace vantrel
