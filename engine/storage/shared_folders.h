#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

#include <sys/types.h>

namespace vantrel {

// How what the engine makes inside a team bundle is shared between the team's users.
enum class FolderSharing {
    // Files and folders get the modes the user's umask gives them.
    umask,
    // Every member of the bundle's group may read and write what any of them made: files get the
    // group's read and write, folders also its search bit and the setgid bit (so that what is
    // made in them keeps the group), whatever the user's umask.
    group,
};

// Group when `folder` is writable by its group or setgid (the way a team's share is set up),
// umask otherwise: the sharing of a new team bundle made in it, and of one whose description
// records a sharing this version doesn't know.
FolderSharing sharingOfFolder(const QString& folder);

// The sharing a bundle's description records as `value`: exactly "group" or "umask"; umask when
// it records none (a bundle made before the choice was recorded behaves as it always did); none
// for anything else ("GROUP", 1, null...), which is damage: the caller reports it and decides by
// sharingOfFolder(), so that nobody's umask takes the team's files from the group.
std::optional<FolderSharing> sharingRecorded(const QJsonValue& value);
QString sharingName(FolderSharing sharing);

// While it lives, the team bundle at `root` is known to this process: what is made below it is
// shared as `sharing` says, and errors name its files relative to it. A bundle open twice in
// one process (two clients) is known until both are gone.
class SharedFolder {
public:
    SharedFolder(QString root, FolderSharing sharing);
    ~SharedFolder();
    SharedFolder(const SharedFolder&) = delete;
    SharedFolder& operator=(const SharedFolder&) = delete;

    const QString& root() const { return m_root; }
    FolderSharing sharing() const { return m_sharing; }

private:
    QString m_root;
    FolderSharing m_sharing;
};

// Gives the file this process just created at `path` (open as `fd`) the modes the sharing of
// the team bundle holding it asks for; nothing outside a team bundle shared with its group.
// Best effort: a share that refuses to change modes keeps the file as it was made.
void shareCreatedFile(int fd, const QString& path) noexcept;
// The same for a folder this process just created at `path`.
void shareCreatedFolder(const QString& path) noexcept;
// The same for the folder this process just created at `path`, open as `fd`.
void shareCreatedFolder(int fd, const QString& path) noexcept;
// mkdir(`path`, `mode`) and shareCreatedFolder(); 0, or the errno of the failed mkdir.
int makeSharedFolder(const QString& path, mode_t mode = 0777) noexcept;

// Makes the folder `folder` (just made) belong to the group of `from`, when this user may:
// the team's group, also where `from` is not setgid. Best effort.
void adoptGroupOf(const QString& folder, const QString& from) noexcept;

// The root of the open team bundle holding `path`, empty when none does.
QString teamBundleRootOf(const QString& path);
// `path` as people read it: relative to the open team bundle holding it, else as it is.
QString shownPath(const QString& path);

} // namespace vantrel
