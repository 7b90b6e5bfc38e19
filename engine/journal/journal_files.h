#pragma once

#include "engine/journal/journal.h"

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
//
// A client packs its records in segments: `pack-<first>-<last>.json` holds its records <first>
// to <last>, the ones it wrote since its previous pack, so packing costs what was written since
// and never rewrites the history. Together a client's packs hold its records from 1 without a
// gap; the single records after the last pack stay as files. Packs of older versions,
// `pack-<last>.json`, hold every record from 1 to <last> and are read the same way.
namespace vantrel::journal_files {

inline constexpr int currentFormat = 2;
// Sequence numbers stay within the twelve digits of record file names.
inline constexpr qint64 maxSeq = 999'999'999'999;
// The highest Lamport number a record may carry. Honest numbers grow by one for each record the
// whole team writes, so they never come near it; a record claiming more is damage, reported and
// never folded. The rule looks at the record alone, so every reader leaves out the same records
// and all fold alike, and no writer stamps beyond it: one crafted record can't push the numbers
// of later records past what readers read (JSON numbers are read up to 9e15).
inline constexpr qint64 maxLamport = 1'000'000'000'000'000;
// The highest Lamport number a writer stamps, well below what readers read: a number above it
// only comes from a crafted record (or from a record stamped after one), so a writer refuses to
// build on it and names it, and the record an honest writer stamps is never the one in the way
// once the crafted one is removed.
inline constexpr qint64 maxStampedLamport = maxLamport / 2;

// Whether `name`, read from the share, may name a client's folder of the journal: one plain,
// visible folder name (hidden ones, such as the register of clients, are the journal's own).
bool isClientFolderName(const QString& name);

QString recordFileName(qint64 seq);
// The name of the pack of records `first` to `last`.
QString packFileName(qint64 first, qint64 last);

// One pack of a client's folder: its records `first` to `last`.
struct PackFile {
    qint64 first = 1;
    qint64 last = 0;
    QString name;
};

// What a client's folder holds.
struct Listing {
    std::vector<PackFile> packs;     // every pack, by `first` then `last`
    qint64 packedUpTo = 0;           // the highest record a pack holds, 0 when none
    std::map<qint64, QString> files; // single records by sequence
    qint64 hiddenUpTo = 0;           // the highest record left out by a simulated listing lag
};
// The packs to read, in order, for the records after `afterSeq`: from each place on the one
// that reaches furthest, so that overlapping packs (a pack and those it replaces, between
// writing it and removing them) are read once. A gap between packs is left to record files.
std::vector<PackFile> packsToRead(const std::vector<PackFile>& packs, qint64 afterSeq);
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

// One record of a pack, as stored (a view into the SplitPack that holds it), and the line it is on
// (1 for every record of a one-line pack).
struct PackEntry {
    QByteArrayView bytes;
    int line = 0;
};
struct SplitPack {
    QByteArray data;         // the pack's bytes, which the entries point into
    QList<QByteArray> owned; // the records of a one-line pack, re-encoded
    QList<PackEntry> entries;
    bool layoutIntact = true; // false when something around the records was changed
};
// Throws DecodingError when a one-line pack is not a JSON array.
SplitPack splitPack(const QByteArray& bytes);

} // namespace vantrel::journal_files
