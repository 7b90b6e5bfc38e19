// The user's folders and the desktop as the program asks them: opening files and addresses,
// showing a file in the file manager.

#pragma once

#include "desktop/desktop_launch.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace vantrel {

// Where this user's local files go. Folders may not exist yet.
class FileManaging {
public:
    virtual ~FileManaging();
    // Per-user local data: working copies live here.
    virtual QString userDataFolder() const = 0;
    // Temporary copies.
    virtual QString cacheFolder() const = 0;
    virtual QString downloadsFolder() const = 0;
};

// The folders of the system: the generic data and cache locations + "/Vantrel" (so they do not
// depend on the application name being set) and the Downloads folder.
class SystemFileManager final : public FileManaging {
public:
    SystemFileManager();
    // Fixed folders, for tests.
    SystemFileManager(QString userDataFolder, QString cacheFolder, QString downloadsFolder);

    QString userDataFolder() const override;
    QString cacheFolder() const override;
    QString downloadsFolder() const override;

private:
    QString m_userDataFolder;
    QString m_cacheFolder;
    QString m_downloadsFolder;
};

// What a file is to be opened as: the MIME types of its kind, best first, and whether the program
// knows that kind. When it does not, and nothing opens those types, the desktop looks at the
// file's name and contents itself.
struct FileKind {
    QStringList mimeTypes;
    bool known = false;
};

// What the engine asks of the desktop.
class WorkspaceInterfacing {
public:
    virtual ~WorkspaceInterfacing();
    // Opens `url` with the user's application for it. Completes once the application has started
    // and did not end with a failure at once; fails with LaunchError (engine/desktop_launch.h)
    // when nothing opens it or it could not start.
    virtual QCoro::Task<> open(QUrl url) = 0;
    // Shows `path` selected in the desktop's file manager, or else its folder; fails with
    // LaunchError when nothing can show it.
    virtual QCoro::Task<> revealInFileManager(QString path) = 0;
};

// The desktop. Call it on the interface thread: it waits for the started application and for
// the file manager's answer on that thread's event loop, without blocking it.
class SystemWorkspace final : public WorkspaceInterfacing {
public:
    // `kindOf` tells what a local file is (the program's table of document types).
    explicit SystemWorkspace(std::function<FileKind(const QString& path)> kindOf);

    // A local file or folder opens in the application the desktop chooses for its kind (see
    // ApplicationLocator), started detached on its path; each start is remembered in
    // LaunchedApplications::shared(). Other addresses open in the application for their scheme.
    QCoro::Task<> open(QUrl url) override;
    // Asks the file manager through org.freedesktop.FileManager1.ShowItems; when that fails or
    // cannot be asked, opens the containing folder instead.
    QCoro::Task<> revealInFileManager(QString path) override;

private:
    std::function<FileKind(const QString& path)> m_kindOf;
};

// Records what was asked of it, for tests.
class RecordingWorkspace final : public WorkspaceInterfacing {
public:
    QCoro::Task<> open(QUrl url) override;
    QCoro::Task<> revealInFileManager(QString path) override;

    QList<QUrl> openedUrls;
    QList<QString> revealedPaths;
    // What open() and revealInFileManager() fail with, after recording; nothing when unset.
    std::optional<LaunchError> failure;
};

} // namespace vantrel
