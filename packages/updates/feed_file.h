#pragma once

#include <QByteArray>
#include <QString>

namespace vantrel::updates {

// A release feed read from a local file: its bytes, or, when it could not be read, why (in words
// that complete "The release feed … was not read: ").
struct FeedFileRead {
    QByteArray bytes;
    QString problem;
};

// Reads the feed at `path` with blocking calls, so never on the interface thread. Only a regular
// file is read, and only up to `limit` bytes: opening never waits for a writer, as a FIFO would
// make it, and anything else (a FIFO, a device, a folder) is refused before a byte is read.
FeedFileRead readFeedFile(const QString& path, qint64 limit);

} // namespace vantrel::updates
