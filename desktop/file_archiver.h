#pragma once

#include "foundation/error.h"

#include <QList>
#include <QString>

namespace vantrel {

// Raised when an archive cannot be written.
class ArchiveError : public Error {
public:
    using Error::Error;

protected:
    QString typeName() const override;
};

// Packs files into one archive (a seam so that callers can be tested without writing ZIPs).
class Archiving {
public:
    virtual ~Archiving();
    // Writes `files` (each entry named by its file name only) into a new archive at
    // `archivePath`, replacing a file of that name. Throws ArchiveError.
    virtual void archive(const QList<QString>& files, const QString& archivePath) const = 0;
};

// Writes deflated ZIP archives. Two files with the same name cannot go in one archive; a
// failure leaves no partial archive behind.
class FileArchiver final : public Archiving {
public:
    FileArchiver() = default;
    void archive(const QList<QString>& files, const QString& archivePath) const override;
};

} // namespace vantrel
