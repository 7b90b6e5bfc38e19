#include "engine/storage/folder_listing.h"

#include "engine/storage/atomic_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QThreadPool>

#include <QtConcurrent/QtConcurrentMap>

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <semaphore>
#include <thread>
#include <unistd.h>

namespace vantrel::listing {

using namespace posix;

namespace {

constexpr qsizetype parallelLookThreshold = 16;

// Requests to network file systems under way at once, over every walk of the process.
std::counting_semaphore<64>& networkRequests()
{
    static std::counting_semaphore<64> requests(4);
    return requests;
}

// Runs `request` (0 or an errno) for a source on `source`: on a network file system a few at a
// time, and again after a pause while it fails with a failure a dropped connection gives.
int ask(Source source, const std::function<int()>& request)
{
    if (source == Source::local)
        return request();
    constexpr int attempts = 5;
    for (int attempt = 1;; ++attempt) {
        networkRequests().acquire();
        const int error = request();
        networkRequests().release();
        if ((error != EIO && error != EAGAIN) || attempt == attempts)
            return error;
        std::this_thread::sleep_for(std::chrono::milliseconds(100 << attempt));
    }
}

// Threads that only wait for file metadata; separate from the pools that copy contents.
QThreadPool& lookPool()
{
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool();
        created->setMaxThreadCount(8);
        return created;
    }();
    return *pool;
}

} // namespace

StorageError unsupportedName(const QString& path)
{
    return StorageError(StorageError::Kind::io, path,
                        QCoreApplication::translate("Engine", "The name of “%1” can’t be kept in a version.").arg(path),
                        QCoreApplication::translate("Engine", "The name holds control characters or isn’t valid text."),
                        QCoreApplication::translate("Engine", "Rename the item, then try again."));
}

StorageError unsupportedKind(const QString& path)
{
    return StorageError(
        StorageError::Kind::io, path,
        QCoreApplication::translate("Engine", "“%1” is a socket, pipe or device, which can’t be kept in a version.")
            .arg(path),
        std::nullopt, QCoreApplication::translate("Engine", "Move it out of the package, then try again."));
}

QList<QByteArray> listFolder(const QString& folder, Source source)
{
    const QByteArray native = nativePath(folder);
    QList<QByteArray> names;
    QString step;
    const int error = ask(source, [&] {
        names.clear();
        step = QStringLiteral("open");
        const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno;
        DIR* listing = ::fdopendir(fd);
        if (!listing) {
            const int failure = errno;
            ::close(fd);
            step = QStringLiteral("opendir");
            return failure;
        }
        step = QStringLiteral("readdir");
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(listing);
            if (!entry) {
                const int failure = errno;
                ::closedir(listing);
                return failure;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            names.append(QByteArray(name));
        }
    });
    if (error != 0)
        throw StorageError::fromErrno(error, folder, step);
    return names;
}

QString readLinkText(const QString& path, const struct stat& status)
{
    const QByteArray native = nativePath(path);
    QByteArray target(qMax<qsizetype>(status.st_size, 255) + 1, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(native.constData(), target.data(), size_t(target.size()));
        if (length < 0)
            throw StorageError::fromErrno(errno, path, QStringLiteral("readlink"));
        if (length < target.size()) {
            target.truncate(length);
            break;
        }
        target.resize(target.size() * 2); // The link changed since it was looked at.
    }
    const QString text = QFile::decodeName(target);
    if (text.isEmpty() || QFile::encodeName(text) != target)
        throw unsupportedName(path);
    return text;
}

std::vector<Looked> lookAll(const QString& folder, const QList<QByteArray>& names, Source source)
{
    std::vector<Looked> looked(static_cast<size_t>(names.size()));
    const QByteArray nativeFolder = nativePath(folder);
    const auto look = [&](qsizetype index) {
        const QByteArray nativeItem = nativeFolder + '/' + names.at(index);
        Looked& result = looked[static_cast<size_t>(index)];
        result.error = ask(source, [&] { return ::lstat(nativeItem.constData(), &result.status) == 0 ? 0 : errno; });
    };
    if (names.size() >= parallelLookThreshold) {
        std::vector<qsizetype> indexes(static_cast<size_t>(names.size()));
        std::iota(indexes.begin(), indexes.end(), qsizetype(0));
        QtConcurrent::blockingMap(&lookPool(), indexes, look);
    } else {
        for (qsizetype index = 0; index < names.size(); ++index)
            look(index);
    }
    return looked;
}

void waitForLookups()
{
    lookPool().waitForDone();
}

} // namespace vantrel::listing
