#include "actions/file_importer.h"

#include "actions/overloaded.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>

namespace vantrel {

FileImporter::FileImporter(QObject* parent) : ObservableObject(parent) {}

void FileImporter::setAction(std::function<void(QUrl)> action)
{
    m_action = std::move(action);
}

void FileImporter::request(QStringList allowedContentTypes, std::function<void(QUrl)> action)
{
    setAllowedContentTypes(std::move(allowedContentTypes));
    setAction(std::move(action));
}

PresentedFlag<FileImporter> presentedFlag(FileImporter* importer)
{
    return PresentedFlag<FileImporter>(
        importer, [](const FileImporter& files) { return bool(files.action()); },
        [](FileImporter& files) {
            files.setAction({});
            files.setAllowedContentTypes({});
        });
}

QStringList fileImporterNameFilters(const QStringList& allowedContentTypes)
{
    const QMimeDatabase database;
    QStringList filters;
    for (const QString& type : allowedContentTypes) {
        const QMimeType mimeType = database.mimeTypeForName(type);
        filters << (mimeType.isValid() ? mimeType.filterString() : type);
    }
    // One entry more, for an extension no file has: the dialog's list of types is never empty,
    // whatever the request allows.
    filters << QStringLiteral("*.bogus-workaround-to-enable-types");
    return filters;
}

std::function<void(const FileImportResult&)> makeFileImportCompletion(FileImporter* importer,
                                                                      std::function<void(const Error&)> failed)
{
    return [importer = QPointer<FileImporter>(importer),
            opened = importer ? importer->action() : std::function<void(QUrl)>(),
            failed = std::move(failed)](const FileImportResult& result) {
        // The answer goes to the request pending now: a request made while the dialog showed
        // replaced the one it opened for. It is taken before the importer lets go of it, so that
        // the action may ask for another file.
        std::function<void(QUrl)> action = importer ? importer->action() : std::function<void(QUrl)>();
        if (!action)
            action = opened;
        if (importer)
            presentedFlag(importer.data()).set(false);
        std::visit(Overloaded{
                       [&](const QUrl& url) {
                           if (action)
                               action(url);
                       },
                       [&](const std::shared_ptr<const Error>& error) {
                           if (failed && error)
                               failed(*error);
                       },
                   },
                   result);
    };
}

} // namespace vantrel
