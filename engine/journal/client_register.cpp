#include "engine/journal/client_register.h"

#include "engine/journal/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/storage_error.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <sys/stat.h>

namespace vantrel {

namespace {

// An entry is a client id and a line end; anything larger is not an entry.
constexpr qint64 maxEntrySize = 512;
// Entries read in one call at most: a register filled by somebody is read over several polls.
constexpr int maxEntriesPerRead = 64;
// The first read goes this far back from the end of the run a (possibly cached) listing shows,
// so that clients entered just before it are read by name too.
constexpr qint64 lookBack = 16;
// An entry without its line end this young may still be being written (where a file can't be
// published whole); an older one never will be.
constexpr std::chrono::seconds writingGrace{60};
constexpr qint64 maxNumber = 999'999'999;

// Whether `path` is a real folder: the register is never read or written through a link.
bool isRealFolder(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

const QString ClientRegister::folderName = QStringLiteral(".clients");

ClientRegister::ClientRegister(QString journalFolder)
    : m_folder(std::move(journalFolder) + QLatin1Char('/') + folderName)
{
}

QString ClientRegister::pathOf(qint64 number) const
{
    return m_folder + QLatin1Char('/') + QString::number(number);
}

qint64 ClientRegister::listedStart() const
{
    QList<qint64> numbers;
    for (const QString& name : QDir(m_folder).entryList(QDir::Files | QDir::NoSymLinks)) {
        bool valid = false;
        const qint64 number = name.toLongLong(&valid);
        if (valid && number >= 1 && number <= maxNumber && name == QString::number(number))
            numbers << number;
    }
    std::sort(numbers.begin(), numbers.end());
    qint64 run = 0;
    for (const qint64 number : std::as_const(numbers)) {
        if (number == run + 1)
            ++run;
    }
    return std::max<qint64>(0, run - lookBack);
}

ClientRegister::Entry ClientRegister::read(qint64 number, QString& client) const
{
    const QString path = pathOf(number);
    QByteArray bytes;
    try {
        bytes = readWholeFile(path, maxEntrySize);
    } catch (const StorageError& error) {
        if (error.kind() == StorageError::Kind::notFound)
            return Entry::absent;
        if (error.kind() == StorageError::Kind::corrupt)
            return Entry::passedOver; // a link, a folder, a device, a large file
        throw;
    }
    if (!bytes.endsWith('\n'))
        return journal_files::writtenWithin(path, writingGrace) ? Entry::pending : Entry::passedOver;
    bytes.chop(1);
    client = QString::fromUtf8(bytes);
    if (client.toUtf8() != bytes || !journal_files::isClientFolderName(client))
        return Entry::passedOver;
    return Entry::client;
}

QStringList ClientRegister::readNew()
{
    QStringList found;
    if (!isRealFolder(m_folder))
        return found; // nobody entered yet, or not a folder to read
    if (m_known < 0)
        m_known = listedStart();
    try {
        for (int count = 0; count < maxEntriesPerRead && m_known < maxNumber; ++count) {
            QString client;
            const Entry entry = read(m_known + 1, client);
            if (entry == Entry::absent || entry == Entry::pending)
                break;
            ++m_known;
            if (entry == Entry::client)
                found << client;
        }
    } catch (const StorageError&) {
        // Out of reach for now: the next poll goes on from here.
    }
    return found;
}

QStringList ClientRegister::enter(const QString& clientId)
{
    QStringList others;
    if (!isRealFolder(m_folder)) {
        ensureDirectory(m_folder);
        if (!isRealFolder(m_folder))
            throw StorageError::corrupt(m_folder, QStringLiteral("The register of clients isn’t a folder."));
    }
    if (m_known < 0)
        m_known = listedStart();
    const QByteArray bytes = clientId.toUtf8() + '\n';
    for (int count = 0; count < maxEntriesPerRead && m_known < maxNumber; ++count) {
        if (publishFileExclusively(pathOf(m_known + 1), bytes)) {
            ++m_known;
            return others;
        }
        QString client;
        const Entry entry = read(m_known + 1, client);
        if (entry == Entry::absent)
            continue; // gone between the two: try the number again
        ++m_known;
        if (entry == Entry::client && client == clientId)
            return others;
        if (entry == Entry::client)
            others << client;
    }
    throw StorageError::corrupt(m_folder, QStringLiteral("The register of clients has no free number nearby."));
}

} // namespace vantrel
