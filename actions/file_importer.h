#pragma once

#include "actions/presented_flag.h"
#include "foundation/error.h"
#include "foundation/observable_object.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <variant>

namespace vantrel {

class KeyValueStorage;

// The type that lets the user choose a folder.
inline const QString folderContentType = QStringLiteral("inode/directory");

// Asks the user for a file to import. A request sets the allowed types first, then the action;
// the window shows its file dialog while an action is set.
class FileImporter : public ObservableObject {
    Q_OBJECT
public:
    // What a request asks the user for; it names the dialog and which folder it starts in.
    enum class Purpose { openTeamBundle, newTeamBundleLocation, exportDestination, importDocument };

    explicit FileImporter(QObject* parent = nullptr);

    // What receives the chosen file; empty while nothing is asked for.
    std::function<void(QUrl)> action() const { return m_action(); }
    void setAction(std::function<void(QUrl)> action);

    // The files that may be chosen. Each entry is a MIME type name ("application/x-kdenlive"), a
    // file name pattern ("*.kdenlive") that the dialog gets as it stands, a pattern ending in "/"
    // for a folder kept as one document ("*.videolibrary/"), or folderContentType for any folder.
    // Writing it notifies nobody: it is read when the dialog opens.
    QStringList allowedContentTypes() const { return m_allowedContentTypes; }
    void setAllowedContentTypes(QStringList types) { m_allowedContentTypes = std::move(types); }

    // What the pending request asks for; written with the types, read when the dialog opens.
    Purpose purpose() const { return m_purpose; }

    // Asks for a file of `allowedContentTypes` for `action`, replacing a request still showing.
    void request(QStringList allowedContentTypes, std::function<void(QUrl)> action,
                 Purpose purpose = Purpose::importDocument);

    // Where the last folder of each kind of dialog is kept; none keeps nothing.
    void setStorage(std::shared_ptr<KeyValueStorage> storage) { m_storage = std::move(storage); }
    // The folder a dialog for `purpose` starts in: the last one used for it while it still
    // exists, else the user's home folder (never the program's working folder).
    QString startFolder(Purpose purpose) const;
    // Keeps the folder that `chosen` leaves the user in: a chosen folder itself when the dialog
    // chose folders, else the folder holding the chosen file or package.
    void rememberFolder(Purpose purpose, const QUrl& chosen, bool choseFolder);

Q_SIGNALS:
    void actionChanged();

private:
    Published<std::function<void(QUrl)>> m_action{this, &FileImporter::actionChanged};
    QStringList m_allowedContentTypes;
    Purpose m_purpose = Purpose::importDocument;
    std::shared_ptr<KeyValueStorage> m_storage;
};

// Whether `importer`'s file dialog is showing; dismissing it clears the action, then the types.
PresentedFlag<FileImporter> presentedFlag(FileImporter* importer);

// The named filters the file dialog gets for `allowedContentTypes`, as "Name (*.a *.b)": the
// extensions of one document type together under its name, a team bundle as "Team Bundles", a
// MIME type as the MIME database names it, "*" as "All Files". With more than one filter, one
// for every allowed file comes first. The list is never empty: a request that allows nothing
// gets a filter that no file matches, so nothing can be chosen.
QStringList fileImporterNameFilters(const QStringList& allowedContentTypes);

// The name patterns of the folders kept as one document among `allowedContentTypes`
// ("*.videolibrary/" gives "*.videolibrary").
QStringList packagePatterns(const QStringList& allowedContentTypes);

// The folder kept as one document that `path` is or lies in, for `patterns` of packagePatterns();
// empty when there is none. The outermost one wins: everything inside a package belongs to it.
QString packageContaining(const QString& path, const QStringList& patterns);

// How a file dialog ended when it did not end by cancelling: the chosen file, or the failure.
using FileImportResult = std::variant<QUrl, std::shared_ptr<const Error>>;

// What runs when a file dialog of `importer` ends. The importer lets go of its request first
// (the presented flag is written false); then a chosen file goes to the action of the request
// pending at that moment (a later request replaces an earlier one), or to the one set when the
// dialog opened when none is pending any more; a failure goes to `failed`. A choice inside a
// folder kept as one document of the request (a dialog that cannot choose such folders lets the
// user pick something in it) stands for that folder, and its folder is remembered for the
// request's purpose.
std::function<void(const FileImportResult&)> makeFileImportCompletion(FileImporter* importer,
                                                                      std::function<void(const Error&)> failed);

} // namespace vantrel
