#include "actions/file_importer.h"

#include "actions/overloaded.h"
#include "engine/document_type.h"
#include "engine/team_bundle.h"
#include "model/key_value_storage.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>

namespace vantrel {

namespace {

QString folderStorageKey(FileImporter::Purpose purpose)
{
    switch (purpose) {
    case FileImporter::Purpose::openTeamBundle:
        return QStringLiteral("fileDialogFolder.openTeamBundle");
    case FileImporter::Purpose::newTeamBundleLocation:
        return QStringLiteral("fileDialogFolder.newTeamBundleLocation");
    case FileImporter::Purpose::exportDestination:
        return QStringLiteral("fileDialogFolder.exportDestination");
    case FileImporter::Purpose::importDocument:
        break;
    }
    return QStringLiteral("fileDialogFolder.importDocument");
}

// One entry of a request as a filter: the name, and what groups entries under one name (the
// document type, so that the four subtitle extensions make one filter).
struct NamedPattern {
    QString group;
    QString name;
    QString pattern;
};

NamedPattern namePattern(const QString& entry)
{
    if (entry == QLatin1String("*"))
        return {entry, Strings::allFilesFilterName(), entry};
    QString pattern = entry.endsWith(QLatin1Char('/')) ? entry.chopped(1) : entry;
    if (!pattern.startsWith(QLatin1String("*.")))
        return {entry, pattern, pattern};
    const QString extension = pattern.mid(2);
    if (extension == TeamBundle::fileExtension)
        return {extension, Strings::teamBundlesFilterName(), pattern};
    const DocumentType type = DocumentType::fromFileExtension(extension);
    if (type.kind() != DocumentType::Case::unknown)
        return {type.identifier(), Strings::documentTypeName(type.description()), pattern};
    const QMimeType mimeType =
        QMimeDatabase().mimeTypeForFile(QStringLiteral("file.") + extension, QMimeDatabase::MatchExtension);
    const QString name = mimeType.isDefault() ? formatText(Strings::filesOfExtensionFilterName(), extension.toUpper())
                                              : mimeType.comment();
    return {pattern, name, pattern};
}

} // namespace

FileImporter::FileImporter(QObject* parent) : ObservableObject(parent) {}

void FileImporter::setAction(std::function<void(QUrl)> action)
{
    m_action = std::move(action);
}

void FileImporter::request(QStringList allowedContentTypes, std::function<void(QUrl)> action, Purpose purpose)
{
    setAllowedContentTypes(std::move(allowedContentTypes));
    m_purpose = purpose;
    setAction(std::move(action));
}

QString FileImporter::startFolder(Purpose purpose) const
{
    if (m_storage) {
        const auto folder = m_storage->string(folderStorageKey(purpose));
        if (folder && QDir::isAbsolutePath(*folder) && QFileInfo(*folder).isDir())
            return *folder;
    }
    return QDir::homePath();
}

void FileImporter::rememberFolder(Purpose purpose, const QUrl& chosen, bool choseFolder)
{
    if (!m_storage || !chosen.isLocalFile())
        return;
    const QFileInfo info(chosen.toLocalFile());
    m_storage->set(choseFolder ? info.absoluteFilePath() : info.absolutePath(), folderStorageKey(purpose));
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
    QList<NamedPattern> named;
    QStringList groups; // in the order they first come
    QStringList patterns;
    for (const QString& entry : allowedContentTypes) {
        const QMimeType mimeType = entry.startsWith(QLatin1Char('*')) ? QMimeType() : database.mimeTypeForName(entry);
        const NamedPattern one = mimeType.isValid()
                                     ? NamedPattern{entry, mimeType.comment(), mimeType.globPatterns().join(u' ')}
                                     : namePattern(entry);
        if (!groups.contains(one.group))
            groups << one.group;
        named << one;
        patterns << one.pattern;
    }
    const auto filter = [](const QString& name, const QStringList& patterns) {
        return name + QStringLiteral(" (") + patterns.join(u' ') + QLatin1Char(')');
    };
    QStringList filters;
    for (const QString& group : std::as_const(groups)) {
        QString name;
        QStringList grouped;
        for (const NamedPattern& one : std::as_const(named)) {
            if (one.group == group) {
                name = one.name;
                grouped << one.pattern;
            }
        }
        filters << filter(name, grouped);
    }
    const QString allFiles = filter(Strings::allFilesFilterName(), {QStringLiteral("*")});
    if (filters.size() > 1) {
        // Every allowed file first; when any file is allowed, that is simply all files.
        filters.removeAll(allFiles);
        filters.prepend(patterns.contains(QStringLiteral("*")) ? allFiles
                                                               : filter(Strings::allSupportedFilterName(), patterns));
    }
    // No file name holds a "/": a request that allows nothing still has a filter, and shows no file.
    if (filters.isEmpty())
        filters << filter(Strings::noDocumentsFilterName(), {QStringLiteral("/")});
    return filters;
}

QStringList packagePatterns(const QStringList& allowedContentTypes)
{
    QStringList patterns;
    for (const QString& type : allowedContentTypes) {
        if (type.endsWith(QLatin1Char('/')) && type.size() > 1)
            patterns << type.chopped(1);
    }
    return patterns;
}

QString packageContaining(const QString& path, const QStringList& patterns)
{
    if (patterns.isEmpty() || path.isEmpty())
        return {};
    QList<QRegularExpression> expressions;
    for (const QString& pattern : patterns)
        expressions << QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                          QRegularExpression::CaseInsensitiveOption);
    QString found;
    QFileInfo at(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    while (!at.isRoot() && !at.fileName().isEmpty()) {
        for (const QRegularExpression& expression : std::as_const(expressions)) {
            if (expression.match(at.fileName()).hasMatch() && at.isDir()) {
                found = at.absoluteFilePath();
                break;
            }
        }
        at = QFileInfo(at.absolutePath());
    }
    return found;
}

std::function<void(const FileImportResult&)> makeFileImportCompletion(FileImporter* importer,
                                                                      std::function<void(const Error&)> failed)
{
    const QStringList types = importer ? importer->allowedContentTypes() : QStringList();
    return [importer = QPointer<FileImporter>(importer),
            opened = importer ? importer->action() : std::function<void(QUrl)>(),
            purpose = importer ? importer->purpose() : FileImporter::Purpose::importDocument,
            packages = packagePatterns(types), choseFolder = types == QStringList{folderContentType},
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
                       [&](QUrl url) {
                           const QString package =
                               url.isLocalFile() ? packageContaining(url.toLocalFile(), packages) : QString();
                           if (!package.isEmpty())
                               url = QUrl::fromLocalFile(package);
                           if (importer)
                               importer->rememberFolder(purpose, url, choseFolder);
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
