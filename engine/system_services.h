#pragma once

#include "engine/desktop_launch.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>

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
    // A local file or folder opens in the application the desktop chooses for its type (see
    // ApplicationLocator), started detached on its path; each start is remembered in
    // LaunchedApplications::shared(). Other addresses open in the application for their scheme.
    QCoro::Task<> open(QUrl url) override;
    // Asks the file manager through org.freedesktop.FileManager1.ShowItems; when that fails or
    // cannot be asked, opens the containing folder instead.
    QCoro::Task<> revealInFileManager(QString path) override;
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
