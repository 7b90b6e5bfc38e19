#pragma once

#include <QList>
#include <QString>
#include <QUrl>

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
    // Opens `url` with its default application; true when something handled it.
    virtual bool open(const QUrl& url) = 0;
    // Shows `path` selected in the desktop's file manager.
    virtual void revealInFileManager(const QString& path) = 0;
};

// The desktop. Call it on the interface thread: revealing waits for the file manager's answer on
// that thread's event loop, without blocking it.
class SystemWorkspace final : public WorkspaceInterfacing {
public:
    bool open(const QUrl& url) override;
    // Asks the file manager through org.freedesktop.FileManager1.ShowItems; when that fails or
    // cannot be asked, opens the containing folder instead.
    void revealInFileManager(const QString& path) override;
};

// Records what was asked of it, for tests.
class RecordingWorkspace final : public WorkspaceInterfacing {
public:
    bool open(const QUrl& url) override;
    void revealInFileManager(const QString& path) override;

    QList<QUrl> openedUrls;
    QList<QString> revealedPaths;
    bool openResult = true; // what open() answers
};

} // namespace vantrel
