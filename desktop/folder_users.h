// Which running applications still use a working folder, so that it is not removed from under
// an editor that has the working copy open.

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vantrel {

// A process that uses a folder.
struct FolderUser {
    qint64 pid = 0;
    // For people: the name of the application this program started on the folder, else the name
    // of the desktop entry whose program it runs, else its process name.
    QString name;

    friend bool operator==(const FolderUser&, const FolderUser&) = default;
};

// The processes of this computer, other than this one, that use `folder` or anything inside it:
// a file open, the working directory, a mapped file or a command-line argument there (relative
// arguments taken from the process's working directory, "file://" URLs too), and the
// applications this program started on a path there while they run. Open files, working
// directories and mapped files are compared by device and inode, so a process in a mount
// namespace of its own that reaches the folder through a bind mount is found; arguments are
// compared as real paths, so a folder reached through a link is still found. Processes this user
// can't look into are passed over. It reads /proc for every process: call it off the interface thread.
QList<FolderUser> processesUsingFolder(const QString& folder);
// The same for each of `folders`, in their order, with one look into each process.
QList<QList<FolderUser>> processesUsingFolders(const QStringList& folders);

} // namespace vantrel
