#pragma once

#include "engine/storage/held_open.h"
#include "engine/storage/storage_error.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <utility>

namespace vantrel {

// Writes `data` to `path` so that readers see either the old file or the whole new one: a
// temporary file beside it (".tmp-<random>"), fsync, rename over `path`, fsync of the folder.
// On failure the temporary file is removed and the old file is left as it was.
// Whether a replaced file must survive a crash of the machine (`durable`), or only ever be
// whole (`replaceable`: caches and hints, which are rebuilt when lost). A file another client of
// the share holds open is replaced once it is closed, within `heldOpen` (see held_open.h).
enum class Durability { durable, replaceable };
void writeFileAtomically(const QString& path, const QByteArray& data, Durability durability = Durability::durable,
                         std::chrono::milliseconds heldOpen = heldOpenBound::beforePublishing);

// The whole contents of the regular file at `path`, at most `maxSize` bytes (see read_limits.h).
// A symbolic link is not followed and a FIFO or device is not read: both throw
// StorageError::notRegularFile(). A larger file throws StorageError::tooLarge() without more
// than `maxSize` + 1 bytes having been read. A file that went stale under a network file system
// is read again by name (see posix::readByName()).
QByteArray readWholeFile(const QString& path, qint64 maxSize);

// Makes `path` appear holding `data`, only if nothing exists there yet; false when something
// does. Readers never see a partial file, except on file systems without hard links, where the
// file is created exclusively and then written. `mayPublish`, when given, is asked once the data
// is written aside, right before `path` is made: false publishes nothing and returns false.
bool publishFileExclusively(const QString& path, const QByteArray& data,
                            const std::function<bool()>& mayPublish = {});

// Whether link() failing with `error` says that the file system has no hard links (the record is
// then created exclusively instead), rather than that it failed.
bool isLinkUnsupportedError(int error);

// Creates the folder `path` and any missing parents (mkdir -p), except a team bundle's folder
// (`*.vantrelteam`) and the folders right inside one, which only the creation of a team makes: a
// bundle that is gone (an unmounted share, a deleted folder) is never made again on the local
// disk. Creating one of them throws StorageError io ("can't be reached"), naming the bundle.
void ensureDirectory(const QString& path);

// Makes the entries of the folder `path` durable. File systems that can't sync folders are
// accepted silently.
void fsyncDirectory(const QString& path);

// System-call helpers shared by the storage code. They retry on EINTR and throw StorageError,
// reporting `path` (the name the user knows) rather than any temporary name.
namespace posix {

// An owned file descriptor, closed on destruction when close() was not called.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Closes the descriptor and reports a failure: network file systems report failed writes
    // on close.
    void close(const QString& path);

private:
    int m_fd = -1;
};

QByteArray nativePath(const QString& path);
// The folder holding `path` ("." for a bare name).
QString parentPath(const QString& path);
// 16 random lower-case hexadecimal digits.
QString randomToken();
// A hidden temporary name in the folder of `path`.
QString temporarySiblingPath(const QString& path);

UniqueFd openFile(const QString& path, int flags, mode_t mode, const QString& pathForErrors);
// Opens the regular file at `path` for reading, neither following a symbolic link at its end
// nor blocking on a FIFO, and fills `status`. Anything but a regular file throws
// StorageError::notRegularFile(pathForErrors).
UniqueFd openRegularFile(const QString& path, struct stat& status, const QString& pathForErrors);
// Reads up to `size` bytes; 0 at the end of the file.
size_t readSome(int fd, char* buffer, size_t size, const QString& pathForErrors);
void writeAll(int fd, const char* data, size_t size, const QString& pathForErrors);
void syncFile(int fd, const QString& pathForErrors);
// Flushes the file at `path` (not followed when it is a link) to disk.
void syncFileAt(const QString& path);
// Asks the system to start writing what was written to `fd` out to disk, without waiting: a
// later syncFile() of it, or any flush, then has little left to wait for. Only a hint: file
// systems that can't do it are left alone.
void startWriteBack(int fd) noexcept;
// Renames `from` to `to`, replacing it; tried again for `heldOpen` while the share says that
// another client has either file open.
void renameFile(const QString& from, const QString& to, const QString& pathForErrors,
                std::chrono::milliseconds heldOpen = heldOpenBound::beforePublishing);

// Runs `read`, one read of the file at `path` from its name on, and again when it fails with
// ESTALE: on NFS and GlusterFS that is the answer for a file another client moved aside or
// replaced between the lookup of its name and the read, and the name may lead to another file
// now. A file still stale after a few tries has moved away: StorageError notFound.
QByteArray readByName(const QString& path, const std::function<QByteArray()>& read);

// Removes a file, ignoring any failure: used to clean up after another failure.
void removeFileQuietly(const QString& path) noexcept;
// Removes a file or a whole folder without following symbolic links, ignoring failures.
void removeTreeQuietly(const QString& path) noexcept;

} // namespace posix

} // namespace vantrel
