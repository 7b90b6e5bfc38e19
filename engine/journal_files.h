#pragma once

#include "engine/journal.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <chrono>
#include <map>
#include <vector>

// The files of a client's journal folder: their names, how they are listed and read, and the
// bytes of records and packs. See engine/README.md.
//
// A record of format 2 is the compact JSON of the record followed by its checksum as the last
// member, written as text after the record's own bytes:
//     {"changes":[...],"client":"...",...,"user":"..."}          the record's bytes
//     {"changes":[...],"client":"...",...,"user":"...","checksum":"<SHA-256 of those bytes>"}
// A reader takes the fixed-length tail off, hashes exactly the bytes that remain and decodes
// those same bytes, so whatever it folds is what was hashed. Clients that predate the checksum
// still read the file as plain JSON. Format-1 records have no checksum and are read as they are.
//
// A pack is a JSON array with one record per line, each kept byte for byte:
//     [
//     <record>,
//     <record>
//     ]
// so that a damaged line costs that record only. Packs written before records had checksums are
// a single line and are read as one JSON array.
namespace vantrel::journal_files {

inline constexpr int currentFormat = 2;
// Sequence numbers stay within the twelve digits of record file names.
inline constexpr qint64 maxSeq = 999'999'999'999;

QString recordFileName(qint64 seq);
QString packFileName(qint64 seq);

// What a client's folder holds.
struct Listing {
    qint64 pack = 0;                 // highest pack, 0 when none
    QList<qint64> olderPacks;        // packs superseded by `pack`
    std::map<qint64, QString> files; // single records by sequence
    qint64 hiddenUpTo = 0;           // the highest record left out by a simulated listing lag
};
// Lists `folder`. With a `lag`, files modified less than `lag` ago are left out as a lagging
// listing of a share would, and every record after the first one left out.
Listing listFolder(const QString& folder, std::chrono::milliseconds lag = {});

// The modification time of `folder`, to notice that its entries changed.
QString folderStamp(const QString& folder);
// Whether the file at `path` was modified less than `span` ago (or in the future).
bool writtenWithin(const QString& path, std::chrono::milliseconds span);

// The bytes of a record file holding `changes` (all of the same record), in the current format.
QByteArray encodeRecord(const std::vector<JournalRecord>& changes);

// What reading the bytes of one record gave.
struct DecodedRecord {
    enum class Outcome {
        folded,     // `changes` holds the record
        unreadable, // not JSON at all: cut short, or still being written
        damaged,    // JSON, but not a valid record (a checksum that does not match, a missing field)
        newer,      // written in a format this version does not know
    };
    Outcome outcome = Outcome::damaged;
    std::vector<JournalRecord> changes;
    QString detail; // why it was not folded, one sentence
    int format = 0;
};
DecodedRecord decodeRecord(QByteArrayView bytes);

// The bytes of a pack of `records`, each the bytes of one record as decodeRecord() read them.
QByteArray encodePack(const QList<QByteArray>& records);

// One record of a pack, as stored, and the line it is on (1 for every record of a one-line pack).
struct PackEntry {
    QByteArray bytes;
    int line = 0;
};
struct SplitPack {
    QList<PackEntry> entries;
    bool layoutIntact = true; // false when something around the records was changed
};
// Throws DecodingError when a one-line pack is not a JSON array.
SplitPack splitPack(const QByteArray& bytes);

} // namespace vantrel::journal_files
