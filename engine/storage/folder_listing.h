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

// Where a source lives. A local disk is asked many things at once. A network file system is
// asked a few at a time, and a request it fails with EIO or EAGAIN is made again a few times:
// an SMB client through FUSE (smbnetfs) serves each share through a bounded number of
// connections, and a connection it drops (or one busy past its timeout) fails every request on
// it, though the file is there a moment later.
enum class Source { local, network };

// The names in `folder`, without "." and "..". Throws StorageError.
QList<QByteArray> listFolder(const QString& folder, Source source = Source::local);

struct Looked {
    struct stat status {};
    int error = 0; // of lstat; 0 when `status` holds the entry's state
};
// The state of each of `names` in `folder`, looked at in parallel when there are many: on a
// share, or with nothing cached, each lstat waits for the storage, and the waits then overlap.
std::vector<Looked> lookAll(const QString& folder, const QList<QByteArray>& names, Source source = Source::local);

// The text of the link at `path`, whose state is `status`. Throws StorageError, also for a text
// that isn't a valid name.
QString readLinkText(const QString& path, const struct stat& status);

StorageError unsupportedName(const QString& path);
StorageError unsupportedKind(const QString& path);

// Waits until no parallel lookup runs any more.
void waitForLookups();

} // namespace vantrel::listing
