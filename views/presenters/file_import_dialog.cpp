#include "views/presenters/file_import_dialog.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace vantrel {

namespace {

// The folder patterns of `types` ("*.videolibrary/" gives "*.videolibrary").
QStringList packagePatterns(const QStringList& types)
{
    QStringList patterns;
    for (const QString& type : types) {
        if (type.endsWith(QLatin1Char('/')))
            patterns << type.chopped(1);
    }
    return patterns;
}

bool matchesAny(const QStringList& patterns, const QString& fileName)
{
    for (const QString& pattern : patterns) {
        const QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(pattern),
                                            QRegularExpression::CaseInsensitiveOption);
        if (expression.match(fileName).hasMatch())
            return true;
    }
    return false;
}

} // namespace

QFileDialog* openFileImportDialog(FileImporter* importer, std::function<void(const Error&)> failed, QWidget* window)
{
    auto* dialog = new QFileDialog(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);

    const QStringList types = importer->allowedContentTypes();
    const QStringList packages = packagePatterns(types);
    if (types == QStringList{folderContentType}) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
        QStringList plain;
        for (const QString& type : types) {
            if (type != folderContentType)
                plain << (type.endsWith(QLatin1Char('/')) ? type.chopped(1) : type);
        }
        // Every allowed type at once first, then each on its own.
        QStringList filters = fileImporterNameFilters(plain);
        QStringList patterns;
        for (const QString& filter : std::as_const(filters)) {
            const auto open = filter.indexOf(QLatin1Char('('));
            patterns << (open >= 0 ? filter.mid(open + 1).chopped(1) : filter);
        }
        filters.prepend(patterns.join(QLatin1Char(' ')));
        dialog->setNameFilters(filters);
        // A folder kept as one document is chosen by opening it; the dialog's own view lets us
        // see that.
        if (!packages.isEmpty())
            dialog->setOption(QFileDialog::DontUseNativeDialog);
    }

    auto complete = makeFileImportCompletion(importer, std::move(failed));
    auto presented = presentedFlag(importer);
    auto chosen = std::make_shared<bool>(false);
    QObject::connect(dialog, &QFileDialog::directoryEntered, dialog,
                     [dialog, packages, complete, chosen](const QString& path) {
                         if (*chosen || !matchesAny(packages, QFileInfo(path).fileName()))
                             return;
                         *chosen = true;
                         complete(QUrl::fromLocalFile(path));
                         dialog->reject();
                     });
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, presented, complete, chosen](int result) {
        if (*chosen)
            return;
        *chosen = true;
        const QList<QUrl> urls = dialog->selectedUrls();
        if (result == QDialog::Accepted && !urls.isEmpty())
            complete(urls.first()); // lets go of the request, then answers it
        else
            presented.set(false);
    });
    dialog->open();
    return dialog;
}

} // namespace vantrel
