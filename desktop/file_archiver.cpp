#include "desktop/file_archiver.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

QString ArchiveError::typeName() const
{
    return QStringLiteral("ArchiveError");
}

Archiving::~Archiving() = default;

namespace {

struct ArchiveWriterDeleter {
    void operator()(struct archive* writer) const { archive_write_free(writer); }
};
using ArchiveWriter = std::unique_ptr<struct archive, ArchiveWriterDeleter>;

struct EntryDeleter {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};
using Entry = std::unique_ptr<archive_entry, EntryDeleter>;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

[[noreturn]] void fail(const QString& archivePath, const QString& reason)
{
    const QString description = QCoreApplication::translate("Strings", "The archive “%1” could not be written.")
                                    .arg(QFileInfo(archivePath).fileName());
    throw ArchiveError(description, reason);
}

QString writerReason(struct archive* writer)
{
    const char* text = archive_error_string(writer);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("Unknown libarchive failure.");
}

QString systemReason(const QString& what, int error)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

void addFile(struct archive* writer, const QString& path, const QString& entryName, const QString& archivePath)
{
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0)
        fail(archivePath, systemReason(path, errno));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fail(archivePath, systemReason(path, errno));
    if (!S_ISREG(info.st_mode))
        fail(archivePath, path + QStringLiteral(" is not a regular file."));

    const Entry entry(archive_entry_new());
    if (!entry)
        fail(archivePath, QStringLiteral("Out of memory."));
    archive_entry_set_pathname_utf8(entry.get(), entryName.toUtf8().constData());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), info.st_mode & 0777);
    archive_entry_set_size(entry.get(), info.st_size);
    archive_entry_set_mtime(entry.get(), info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    if (archive_write_header(writer, entry.get()) != ARCHIVE_OK)
        fail(archivePath, writerReason(writer));

    // Exactly the size announced in the header: a log may grow while it is being read.
    char buffer[64 * 1024];
    for (off_t remaining = info.st_size; remaining > 0;) {
        const ssize_t count = ::read(fd.get(), buffer, size_t(std::min<off_t>(remaining, sizeof buffer)));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            fail(archivePath, systemReason(path, errno));
        if (count == 0)
            fail(archivePath, path + QStringLiteral(" became shorter while it was being archived."));
        if (archive_write_data(writer, buffer, size_t(count)) != count)
            fail(archivePath, writerReason(writer));
        remaining -= count;
    }
    if (archive_write_finish_entry(writer) != ARCHIVE_OK)
        fail(archivePath, writerReason(writer));
}

// `opened` tells whether anything may have been written at `archivePath`.
void writeArchive(const QList<QString>& files, const QString& archivePath, bool& opened)
{
    QSet<QString> names;
    for (const QString& file : files) {
        const QString name = QFileInfo(file).fileName();
        if (name.isEmpty())
            fail(archivePath, file + QStringLiteral(" does not name a file."));
        if (names.contains(name))
            fail(archivePath, QStringLiteral("More than one file is named ") + name + QLatin1Char('.'));
        names.insert(name);
    }

    const ArchiveWriter writer(archive_write_new());
    if (!writer)
        fail(archivePath, QStringLiteral("Out of memory."));
    if (archive_write_set_format_zip(writer.get()) != ARCHIVE_OK
        || archive_write_set_format_option(writer.get(), "zip", "compression", "deflate") != ARCHIVE_OK
        || archive_write_set_format_option(writer.get(), "zip", "hdrcharset", "UTF-8") != ARCHIVE_OK)
        fail(archivePath, writerReason(writer.get()));
    if (archive_write_open_filename(writer.get(), QFile::encodeName(archivePath).constData()) != ARCHIVE_OK)
        fail(archivePath, writerReason(writer.get()));
    opened = true;

    for (const QString& file : files)
        addFile(writer.get(), file, QFileInfo(file).fileName(), archivePath);

    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        fail(archivePath, writerReason(writer.get()));
}

} // namespace

void FileArchiver::archive(const QList<QString>& files, const QString& archivePath) const
{
    bool opened = false;
    try {
        writeArchive(files, archivePath, opened);
    } catch (...) {
        // Whatever was written is unusable.
        if (opened)
            ::unlink(QFile::encodeName(archivePath).constData());
        throw;
    }
}

} // namespace vantrel
