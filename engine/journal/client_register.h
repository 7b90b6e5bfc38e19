#pragma once

#include <QString>
#include <QStringList>

namespace vantrel {

// The register of a team's clients, `journal/.clients/<n>`: entries numbered from 1, each made by
// one client with an exclusive create at its first write, holding its id and a line end, and
// never replaced or removed. A share may answer a listing of `journal/` from a cache (sshfs: 20 s)
// but answers a file opened by name from the file, so readers look for the entry after the last
// one they know at every poll: a new client is found as soon as a known one's new records are.
// The folder's name is hidden, so clients that list `journal/` for its clients (older ones too)
// never take it for one. Entries are data written by anybody: one that is not a plain file
// holding a client folder name is passed over.
//
// Not thread-safe: the journal calls it under its lock.
class ClientRegister {
public:
    explicit ClientRegister(QString journalFolder);

    // The clients entered since the last call, each named once per entry (this client too).
    // The first call starts a few entries before the end of the run the listing shows, then
    // goes on by name. Stops at the first number not there, at an entry still being written, or
    // when the share can't be read; never reads more than a bounded number of entries per call.
    QStringList readNew();
    // Enters `clientId` in the first free number after those known, unless an entry met on the
    // way names it already. Returns the other clients met on the way. Throws StorageError.
    QStringList enter(const QString& clientId);

    static const QString folderName;

private:
    enum class Entry { client, absent, pending, passedOver };
    // Reads entry `number`; fills `client` for Entry::client. Throws StorageError when the share
    // can't be read.
    Entry read(qint64 number, QString& client) const;
    QString pathOf(qint64 number) const;
    // Where the first read starts: a few entries before the end of the run the listing shows.
    qint64 listedStart() const;

    QString m_folder;
    qint64 m_known = -1; // every entry up to here was read; -1 before the first read
};

} // namespace vantrel
