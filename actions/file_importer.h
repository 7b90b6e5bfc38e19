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

// The type that lets the user choose a folder.
inline const QString folderContentType = QStringLiteral("inode/directory");

// Asks the user for a file to import. A request sets the allowed types first, then the action;
// the window shows its file dialog while an action is set.
class FileImporter : public ObservableObject {
    Q_OBJECT
public:
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

    // Asks for a file of `allowedContentTypes` for `action`, replacing a request still showing.
    void request(QStringList allowedContentTypes, std::function<void(QUrl)> action);

Q_SIGNALS:
    void actionChanged();

private:
    Published<std::function<void(QUrl)>> m_action{this, &FileImporter::actionChanged};
    QStringList m_allowedContentTypes;
};

// Whether `importer`'s file dialog is showing; dismissing it clears the action, then the types.
PresentedFlag<FileImporter> presentedFlag(FileImporter* importer);

// The name filters the file dialog gets for `allowedContentTypes`: each entry in order, a MIME
// type as the MIME database describes it, then one for the extension
// "bogus-workaround-to-enable-types", so that the list of types is never empty.
QStringList fileImporterNameFilters(const QStringList& allowedContentTypes);

// How a file dialog ended when it did not end by cancelling: the chosen file, or the failure.
using FileImportResult = std::variant<QUrl, std::shared_ptr<const Error>>;

// What runs when a file dialog of `importer` ends. The importer lets go of its request first
// (the presented flag is written false); then a chosen file goes to the action of the request
// pending at that moment (a later request replaces an earlier one), or to the one set when the
// dialog opened when none is pending any more; a failure goes to `failed`.
std::function<void(const FileImportResult&)> makeFileImportCompletion(FileImporter* importer,
                                                                      std::function<void(const Error&)> failed);

} // namespace vantrel
