#pragma once

#include <QString>

#include <chrono>

// The files of the lock table: moving a lock record out of the way and removing it. Shared by
// taking a lock (a force unlock) and giving it up; see lock_table.h.
namespace vantrel::lock_files {

// A temporary name beside the record at `path`, which no reader takes for a lock.
QString asideName(const QString& path);
// Moves the record at `path` out of the way atomically; false when there was none. A share
// refuses while another client reads the record (see held_open.h): tried again for `heldOpen`.
bool moveAside(const QString& path, const QString& aside, std::chrono::milliseconds heldOpen);
// Removes a record moved aside. One a reader still holds open goes once it is closed; if it
// never closes in time, the record stays aside under a name no reader takes for a lock.
void removeAside(const QString& aside);

} // namespace vantrel::lock_files
