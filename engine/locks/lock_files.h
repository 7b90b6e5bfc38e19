#pragma once

#include <QString>

#include <chrono>
#include <utility>

// The files of the lock table: moving a lock record out of the way and removing it. Shared by
// taking a lock (a force unlock) and giving it up; see lock_table.h.
namespace vantrel::lock_files {

// A temporary name beside the record at `path`, which no reader takes for a lock. `owner` (see
// asideOwner()) tells this installation's own names from everybody else's.
QString asideName(const QString& path, const QString& owner);
// What the aside names of the installation `clientId` hold after ".tmp-": a short token of its id.
QString asideOwner(const QString& clientId);
// Moves the record at `path` out of the way atomically; false when there was none. A share
// refuses while another client reads the record (see held_open.h): tried again for `heldOpen`.
bool moveAside(const QString& path, const QString& aside, std::chrono::milliseconds heldOpen);
// Removes a record moved aside. One a reader still holds open goes once it is closed; if it
// never closes in time, the record stays aside under a name no reader takes for a lock.
void removeAside(const QString& aside);

// The right to write one bundle's lock record: the folder `locks/<bundle>.claim`, which `mkdir`
// makes exclusively on every share the probe accepts (an exclusive create is not exclusive
// between two smbnetfs mounts). Held only while the record is read, created, written and read
// back; removed when dropped. It holds an empty file named by its maker's asideOwner().
class Claim {
public:
    Claim() = default;
    Claim(QString path, QString owner) : m_path(std::move(path)), m_owner(std::move(owner)) {}
    ~Claim();
    Claim(Claim&& other) noexcept
        : m_path(std::exchange(other.m_path, {})),
          m_owner(std::exchange(other.m_owner, {}))
    {
    }
    Claim& operator=(Claim&& other) noexcept;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    bool isHeld() const { return !m_path.isEmpty(); }

private:
    QString m_path;
    QString m_owner;
};

// Makes the claim folder `path` for the installation `owner` (see asideOwner()): 0 when made, else why not for now: EEXIST when something of
// that name exists, EIO where the share says so of a claim another client is removing (smbnetfs:
// SMB's "delete pending"). Never follows a link (mkdir makes no folder where a link stands).
// Throws StorageError for anything else.
int makeClaim(const QString& path, const QString& owner);
// Whether the claim at `path` is a folder made for `owner`.
bool isOwnClaim(const QString& path, const QString& owner);
// Clears a claim left behind by a client that ended while holding it: renamed aside to a name of
// its own first, so that a claim another client makes once the name is free is never the one
// removed. Throws StorageError.
void clearClaim(const QString& path, const QString& owner);

} // namespace vantrel::lock_files
