#pragma once

#include "engine/storage/chunks/chunk_list.h"
#include "engine/storage/chunks/chunk_source.h"
#include "engine/storage/content_hash.h"
#include "engine/storage/read_limits.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QString>

#include <chrono>
#include <sys/stat.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace vantrel {

class PackWriter;
class TreeCache;

// The contents of all versions of a team bundle, one file per distinct SHA-256:
// `<folder>/ab/<64 hex>`, written through a temporary file in `<folder>/tmp/` or, when its hash is
// known before it is written, `<folder>/ab/.tmp-...` (createTemporaryFor()). A stored content never changes, so
// any number of threads, processes and machines may store and read at once without locks:
// two writers of the same content produce the same bytes, and the last rename wins harmlessly.
// Every read checks the hash.
class ContentStore {
public:
    struct Stored {
        ContentHash hash;
        qint64 size = 0;
        // Stored in chunks: the list of its chunks (chunk_list.h), itself a stored content. The
        // whole content is then not stored under `hash`, which is its identity and its check.
        std::optional<ContentHash> chunks;
    };

    // The chunks and the chunk list a stored version already holds for a file, which storing
    // the file's new contents does not write again once the store is seen to hold them, opened
    // by name at their size (not read).
    struct KnownChunks {
        QSet<ContentHash> chunks;
        std::optional<ContentHash> list;
        // In packs (format 4): where the base's chunks lie, relied on by their place once their
        // pack is seen there at least as long (opened by name, not read) with no damage noted.
        struct Place {
            ContentHash pack;
            qint64 offset = 0;
        };
        QHash<ContentHash, Place> places;
    };

    // `folder` is the store's own folder (the team bundle's "objects"); it is created on first use.
    // `owner` is the client id of the client that writes through it: its temporary files are
    // named after it (`tmp/<owner>.<process>.<random>`), so that it can tell its own left-overs
    // (see removeOwnTemporaries()); without one they are named as older versions did.
    explicit ContentStore(QString folder, QString owner = {});
    ~ContentStore();

    const QString& folder() const { return m_folder; }
    // The trees of this store read or stored lately, shared by everyone who reads trees from it.
    TreeCache& recentTrees() const { return *m_recentTrees; }

    // Stores the regular file at `path` (a symbolic link is refused), reading it once. A content
    // stored intact already is not written again: it is touched instead (see refresh()), and the
    // copy read is dropped before it is flushed; a damaged copy is replaced. Throws StorageError
    // when the file can't be read or changes while it is read; nothing is left behind then.
    Stored storeFile(const QString& path);
    // Reads the regular file at `path` and gives its hash, storing nothing: for a file stored in
    // packs, its identity (found from its chunks as storeChunked() finds it). Throws as storeFile().
    Stored hashFile(const QString& path) const;
    // Stores `data` unless a stored copy of it is there already (checked in full, then touched).
    ContentHash storeBytes(QByteArrayView data);

    // The content stored under `hash`, checked against it (StorageError corrupt on a mismatch).
    // Read whole, so bounded: a stored file larger than `maxSize`, or one that is not a regular
    // file, is corrupt and not read.
    QByteArray readBytes(const ContentHash& hash, qint64 maxSize = readLimits::folderTree) const;

    // Creates the file `destination`, which must not exist, holding the content stored under
    // `hash`, which its manifest says is `size` bytes long, checking every byte against the
    // hash. A stored file of another size, or not a regular file, is corrupt and nothing of it
    // is read. With `synchronize` the file is flushed to disk before returning; without, its
    // write-out is started. On any failure
    // `destination` is removed and StorageError is thrown (corrupt when the stored bytes don't
    // match).
    void copyOut(const ContentHash& hash, qint64 size, const QString& destination, bool executable,
                 bool synchronize = false) const;

    // Whether files larger than chunking::threshold are stored in chunks (Batch::storeChunked()):
    // only in a team bundle whose format says so, so that older clients never meet them.
    void setChunkedContents(bool chunked) { m_chunked = chunked; }
    bool storesChunked() const { return m_chunked; }
    // Whether chunks are written into packs (chunk_pack.h), format 4, rather than each as an
    // object of its own: then a chunked file's identity is the hash of its chunk list in format 1
    // (ChunkList::identity()), not of its bytes.
    void setPackedChunks(bool packed) { m_packed = packed; }
    bool packsChunks() const { return m_chunked && m_packed; }
    // Where the pack named `hash` is: `<folder>/packs/ab/<64 hex>`.
    QString packPathFor(const ContentHash& hash) const;

    // The hook of a local chunk cache: consulted before the store by every copy-out of a chunked
    // content, and given every chunk stored or read. None by default.
    void setChunkSource(std::shared_ptr<ChunkSource> source);
    std::shared_ptr<ChunkSource> chunkSource() const;

    // As copyOut() above, for a content stored whole or in chunks. A chunked one is put together
    // from its chunks in order, each checked against its hash and the whole against `hash`; a
    // chunk list or chunk that is missing is notFound, one that is damaged or not within its
    // bounds corrupt. A damaged chunk is moved aside, so that the next version that has its
    // bytes stores it again (Batch::storeChunked()); a chunk the chunk source gives that the
    // store lacks is stored again from it. Neither in a store that is not writable. From packs,
    // the list is checked against `hash` (its identity) and each chunk against its own only; a
    // pack found damaged is marked so, not moved (chunk_pack.h).
    void copyOut(const Stored& content, const QString& destination, bool executable, bool synchronize = false) const;
    // Whether this client may write the store: only then does reading it set damaged chunks
    // aside or put back those it lacks. Writable by default.
    void setWritable(bool writable) { m_writable = writable; }
    // Whether the content is held: opened by name and of its size (a chunked one: its list,
    // decoded, and each of its chunks). Throws StorageError as opening them does.
    bool holds(const Stored& content) const;

    // Whether a regular file is stored under `hash` (a link there is not).
    bool contains(const ContentHash& hash) const;
    // Marks the content as just used, so that collectGarbage() keeps it for another grace
    // period. False when it isn't stored or can't be marked; store it again then.
    bool refresh(const ContentHash& hash);
    // Whether a regular file of `size` bytes is stored under `hash` and could be marked as just
    // used: then it is kept instead of writing a new copy.
    bool reuseExisting(const ContentHash& hash, qint64 size);
    // As reuseExisting(), once every byte of the stored file is checked against `hash` (a
    // damaged copy is then replaced instead of kept).
    bool reuseIntact(const ContentHash& hash, qint64 size);
    QString pathFor(const ContentHash& hash) const;

    class Batch;
    class Written;

    // Removes what the owner left as soon as it can: at the first call, the files of its earlier
    // runs in the temporary folder (a crash, a share gone when they were to be removed); at each
    // call, the files of this process whose removal failed, wherever they are, and the objects of
    // a failed change that could not be removed then (see Written). Never a file this
    // process may still be writing, nor another client's, nor one an earlier run left in a shard
    // folder (collectGarbage() removes those after its grace period: listing every shard folder
    // at each start would cost more than they do).
    // Best effort; returns how many files it removed.
    int removeOwnTemporaries() noexcept;

    // Removes the contents that are not referenced and were not stored or refreshed within
    // `gracePeriod`, and temporary files older than that (in the temporary folder and the shards),
    // all by the share's clock: "now" is the modification time the share gives a file made in the
    // temporary folder, measured first, never this computer's time (which may be days off). Then
    // `referenced` is asked what is referenced, so that every change published before "now" is in
    // what it returns; when it returns nothing, nothing is removed. Returns how many contents it
    // removed. Throws StorageError, removing nothing, when the share's time can't be measured.
    // Failures on single files are skipped: they are collected next time. The `.tmp-` files
    // older than that in each of `writersFolders` and the folders right inside it go too: what
    // writers of small files there left when they ended before moving them to their place.
    int collectGarbage(const std::function<std::optional<QSet<ContentHash>>()>& referenced,
                       std::chrono::seconds gracePeriod, const QStringList& writersFolders = {});
    int collectGarbage(const QSet<ContentHash>& referenced, std::chrono::seconds gracePeriod);

private:
    friend class PackWriter;
    struct Temporary;
    struct Leftovers;

    QString temporaryName() const;
    int removeEarlierRuns();

    // Reads the regular file at `path` into a new temporary file of the store, giving its hash.
    Stored readIntoTemporary(const QString& path, Temporary& temporary);
    // Reads the regular file at `path` whole, with its hash, when it holds at most `limit` bytes;
    // nothing when it is larger. Throws as storeFile().
    std::optional<std::pair<Stored, QByteArray>> readSmallFile(const QString& path, qint64 limit) const;
    // The identity of the file read from `source`, cut and hashed as storing it in packs would.
    Stored identityInChunks(int source, const QString& path, const struct stat& before) const;
    // As reuseIntact(), for a small content read whole.
    bool reuseIntactBytes(const ContentHash& hash, qint64 size);

    // Makes sure the folder `path` of the store ("tmp" or a shard) is a folder of its own: a
    // symbolic link found there is removed, never followed, so that nothing is written outside
    // the store. Checked once per folder, unless `again`.
    void claimFolder(const QString& path, bool again = false);
    // A new temporary file: in the temporary folder, or, for a content whose hash is known, beside
    // the place it goes (shardTemporaryPrefix). Moving a file between folders of a network file
    // system holds up every other rename of the mount for a round trip to the server, and each
    // creation in one folder the others in it: contents spread over the shard folders and
    // renamed within them are stored side by side.
    Temporary createTemporaryIn(const QString& folder, const QString& name);
    Temporary createTemporary();
    Temporary createTemporaryFor(const ContentHash& hash);

    // Flushes the temporary file to disk and moves it to its place: after that, a crash can't
    // leave anything but the whole content under that name. install() also makes the name
    // itself durable; place() leaves that to its caller.
    void install(Temporary& temporary, const ContentHash& hash);
    void place(Temporary& temporary, const ContentHash& hash);

    // One chunk of a chunked content, from the chunk source or the store, checked.
    QByteArray readChunk(const ChunkList::Chunk& chunk, ChunkSource* local) const;
    // As copyOut(), for a content whose list names packs (chunk_pack_reading.cpp).
    void copyOutPacked(const Stored& content, const ChunkList& list, const QString& destination, bool executable,
                       bool synchronize) const;
    // Whether the pack is there, a regular file of at least `size` bytes with no damage noted
    // beside it; its size, or -1. Throws only when the store can't tell.
    qint64 packFoundAtLeast(const ContentHash& pack, qint64 size) const;
    // Where the chunks of packed lists this process stored or read lie, so that storing them
    // again relies on them there (as on the base's, once their pack is seen); a pack removed
    // since (a failed change's, a collection's) is not seen, and its chunks are written anew.
    void notePlaces(const ChunkList& list) const;
    std::optional<KnownChunks::Place> placeOf(const ContentHash& chunk) const;
    // Whether a regular file of `size` bytes is stored under `hash`, as opening it by name
    // (neither following a link nor blocking) finds it and its descriptor says. Throws
    // StorageError as opening it does (notFound when nothing is there).
    bool storedAtSize(const ContentHash& hash, qint64 size) const;
    // As storedAtSize(), false also when nothing or no regular file is there: throws only when
    // the store can't tell (it can't be reached, or refuses).
    bool foundAtSize(const ContentHash& hash, qint64 size) const;

    // An object a batch installed new, as it was right after: what its removal compares.
    struct OwnObject {
        ContentHash hash;
        qint64 size = 0;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool pack = false;
    };
    QString pathOf(const OwnObject& object) const { return object.pack ? packPathFor(object.hash) : pathFor(object.hash); }
    struct NotedObject;
    // Removes the objects of a failed change that nobody came to rely on (see Written); what
    // can't be decided now (the share is gone) is kept for removeOwnTemporaries().
    void removeOwnObjects(std::vector<OwnObject> objects) noexcept;
    int removeNotedObjects() noexcept;
    bool removeOwnObject(NotedObject& entry, bool reached) noexcept;
    void keepForLater(std::vector<NotedObject>& later);

    QString m_folder;
    QString m_owner;
    bool m_chunked = false;
    bool m_packed = false;
    bool m_writable = true;
    mutable std::mutex m_sourceMutex;
    std::shared_ptr<ChunkSource> m_chunkSource;
    mutable std::mutex m_placesMutex;
    mutable QHash<ContentHash, KnownChunks::Place> m_places;
    // What this store's chunked contents hold in memory at once (content_store_temporary.h): its
    // own, so that copies stuck on the share of one team bundle that hangs hold up no other's.
    struct ChunkBounds;
    const std::unique_ptr<ChunkBounds> m_chunkBounds;
    const std::unique_ptr<Leftovers> m_leftovers;
    const std::unique_ptr<TreeCache> m_recentTrees;
    std::mutex m_claimedMutex;
    QSet<QString> m_claimed;
};

// Stores many contents with few waits for the disk. Each content is written to a temporary file
// whose write-out starts at once; every so often the files written so far are flushed (by then
// mostly on disk already) and moved to their places, and finish() makes the new names durable.
// A content is under its name only once its bytes are on disk, as with storeFile(); a content
// stored through the batch may be referred to only once finish() has returned, which opens each
// content it stored or kept by name and fails unless it is there at its size. Its functions
// may be called from many threads at once, finish() once they are all done. What finish() did
// not install is removed when the batch is destroyed; what it installed new is noted in
// `written`, when given, for the change to remove should it fail before its record.
class ContentStore::Batch {
public:
    explicit Batch(ContentStore& store, Written* written = nullptr);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // As ContentStore::storeFile() and storeBytes().
    Stored storeFile(const QString& path);
    ContentHash storeBytes(QByteArrayView data);
    // Stores the regular file at `path` in chunks (chunker.h), reading it once: its chunks are
    // hashed on a few threads while it is read, and only those the store lacks are written (any
    // chunk when it is not there at its size, opened by name and not read back), then its chunk
    // list. Throws as storeFile().
    Stored storeChunked(const QString& path, const KnownChunks& known = {});
    // As storeChunked(), once fewer than ChunkBounds::cutting files of this store are being cut:
    // for callers that store many files in parallel.
    Stored storeChunkedInTurn(const QString& path, const KnownChunks& known = {});
    void finish();

private:
    struct Pending;
    friend class PackWriter;

    // As storeBytes(), for data whose hash is known; whether the data was new to the store.
    // `named`: a version recorded already names it (a chunk of the base the share lost, stored
    // again), so it stays should the change fail.
    bool storeHashed(const ContentHash& hash, QByteArrayView data, bool named = false);
    // Whether a chunk is stored already, as opening it by name at `size` finds it (not read):
    // then it is touched and kept, and its name confirmed in finish().
    bool keepStoredChunk(const ContentHash& hash, qint64 size);

    void add(Temporary&& temporary, const Stored& stored, bool named = false, bool pack = false);
    void install(Pending& item);
    enum class Placement { installed, replacedOther, keptOther };
    Placement placeNew(Pending& item);
    void installAll(std::vector<Pending>& pending);
    void keepName(const ContentHash& hash, qint64 size, bool pack = false);
    void confirmNames(const QHash<ContentHash, qint64>& names, bool packs) const;
    // As storeChunked(), into packs.
    Stored storePacked(const QString& path, const KnownChunks& known);
    // Stores the file's chunk list unless it is the base's and there; its hash.
    ContentHash storeList(const QString& path, const ChunkList& list, const KnownChunks& known);

    ContentStore& m_store;
    Written* const m_written;
    std::mutex m_mutex;
    std::vector<Pending> m_pending;
    QSet<ContentHash> m_accepted;
    QSet<QString> m_folders;            // shards that gained or kept a content, to flush in finish()
    QHash<ContentHash, qint64> m_names; // stored or kept, by size: read back in finish()
    QHash<ContentHash, qint64> m_packNames;
};

// The objects one change installed new through its batches (not those they found stored), each
// with its inode, size and times right after it was installed. Destroyed before keep() (the
// change failed before anything naming them was published), it removes those that nobody came
// to rely on meanwhile: see removeOwnObjects() in content_store_temporaries.cpp.
class ContentStore::Written {
public:
    explicit Written(ContentStore& store) : m_store(store) {}
    ~Written();
    Written(const Written&) = delete;
    Written& operator=(const Written&) = delete;

    // A record naming them is about to be published, and may be on the share from now on
    // whatever happens: they stay.
    void keep();
    bool kept() const;

private:
    friend class Batch;
    void add(OwnObject object);

    ContentStore& m_store;
    mutable std::mutex m_mutex;
    std::vector<OwnObject> m_objects;
    bool m_kept = false;
};

} // namespace vantrel
