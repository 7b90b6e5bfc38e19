#pragma once

#include "engine/storage/storage_error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/stat.h>
#include <vector>

// Listing folders of a source that is being stored: its names, the state of each entry, and the
// text of its links, read without following anything.
namespace vantrel::listing {

// The names in `folder`, without "." and "..". Throws StorageError.
QList<QByteArray> listFolder(const QString& folder);

struct Looked {
    struct stat status {};
    int error = 0; // of lstat; 0 when `status` holds the entry's state
};
// The state of each of `names` in `folder`, looked at in parallel when there are many: on a
// share, or with nothing cached, each lstat waits for the storage, and the waits then overlap.
std::vector<Looked> lookAll(const QString& folder, const QList<QByteArray>& names);

// The text of the link at `path`, whose state is `status`. Throws StorageError, also for a text
// that isn't a valid name.
QString readLinkText(const QString& path, const struct stat& status);

StorageError unsupportedName(const QString& path);
StorageError unsupportedKind(const QString& path);

// Waits until no parallel lookup runs any more.
void waitForLookups();

} // namespace vantrel::listing
