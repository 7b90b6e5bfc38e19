#include "bench/bench_support.h"

#include "desktop/system_services.h"
#include "desktop/user_identity.h"
#include "engine/document_application.h"
#include "engine/document_type.h"
#include "engine/journal/journal.h"
#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vantrel::bench {

namespace {

const char* noteTag = "bench";

QJsonObject versionFields(const ContentHash& manifest, const QString& message, const DocumentType& type,
                          VersionOrigin origin)
{
    return QJsonObject{{QStringLiteral("version"), IdFor<Versions>::make().toString()},
                       {QStringLiteral("manifest"), manifest.toHex()},
                       {QStringLiteral("message"), message},
                       {QStringLiteral("application"), DocumentApplication::empty(type).toJson().toObject()},
                       {QStringLiteral("origin"), toText(origin)}};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Small helpers.

void setNoteTag(const char* tag)
{
    noteTag = tag;
}

void note(const QString& text)
{
    std::fprintf(stderr, "[%s] %s\n", noteTag, qPrintable(text));
    std::fflush(stderr);
}

void fail(const std::string& what)
{
    throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : std::string()));
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

QString seconds(double value)
{
    if (value < 1.0)
        return QStringLiteral("%1 ms").arg(value * 1000.0, 0, 'f', value < 0.01 ? 2 : 1);
    return QStringLiteral("%1 s").arg(value, 0, 'f', 2);
}

QString mebibytes(double bytes, int decimals)
{
    return QStringLiteral("%1 MiB").arg(bytes / double(MiB), 0, 'f', decimals);
}

double statusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        fail("read /proc/self/status");
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() * double(KiB);
    }
    throw std::runtime_error(std::string("no ") + field + " in /proc/self/status");
}

QString runList(const std::vector<double>& values, const std::function<QString(double)>& format)
{
    QStringList parts;
    for (double value : values)
        parts << format(value);
    return parts.join(QStringLiteral(" / "));
}

QString fileSystemType(const QString& path)
{
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("?");
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
        return QStringLiteral("ext4");
    case 0x58465342:
        return QStringLiteral("xfs");
    case 0x9123683E:
        return QStringLiteral("btrfs");
    case 0x01021994:
        return QStringLiteral("tmpfs");
    case 0x6969:
        return QStringLiteral("nfs");
    case 0xFE534D42:
        return QStringLiteral("smb2");
    case 0x794C7630:
        return QStringLiteral("overlayfs");
    default:
        return QStringLiteral("0x%1").arg(static_cast<unsigned long>(info.f_type), 0, 16);
    }
}

Random::Random(std::uint64_t seed)
{
    for (auto& word : m_state) {
        seed += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        word = z ^ (z >> 31);
    }
}

std::uint64_t Random::next()
{
    const std::uint64_t result = rotl(m_state[1] * 5, 7) * 9;
    const std::uint64_t t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotl(m_state[3], 45);
    return result;
}

void Random::fill(char* data, size_t size)
{
    size_t done = 0;
    for (; done + 8 <= size; done += 8) {
        const std::uint64_t word = next();
        std::memcpy(data + done, &word, 8);
    }
    if (done < size) {
        const std::uint64_t word = next();
        std::memcpy(data + done, &word, size - done);
    }
}

void writeAllAt(int fd, const char* data, size_t size, qint64 offset, const std::string& path)
{
    size_t written = 0;
    while (written < size) {
        const ssize_t result = ::pwrite(fd, data + written, size - written, offset + qint64(written));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            fail("write " + path);
        }
        written += size_t(result);
    }
}

void writeRandom(int fd, qint64 offset, qint64 size, Random& random, std::vector<char>& buffer, const std::string& path)
{
    while (size > 0) {
        const size_t chunk = size_t(std::min<qint64>(size, qint64(buffer.size())));
        random.fill(buffer.data(), chunk);
        writeAllAt(fd, buffer.data(), chunk, offset, path);
        offset += qint64(chunk);
        size -= qint64(chunk);
    }
}

std::vector<qint64> largeFileSizes(Random& random, qint64 total, int count, const char* what)
{
    std::vector<double> weights;
    double weightSum = 0;
    for (int index = 0; index < count; ++index) {
        weights.push_back(1.0 + 3.0 * random.uniform());
        weightSum += weights.back();
    }
    std::vector<qint64> sizes;
    qint64 assigned = 0;
    for (int index = 0; index < count; ++index) {
        const qint64 size =
            index + 1 == count ? total - assigned : qint64(double(total) * weights[size_t(index)] / weightSum);
        assigned += size;
        if (size < 8 * MiB)
            throw std::runtime_error(std::string("the ") + what + " plan went wrong: a large file is too small");
        sizes.push_back(size);
    }
    return sizes;
}

void generateFiles(const QString& root, const std::vector<PackageFile>& plan, std::uint64_t seed)
{
    Random random(seed);
    std::vector<char> buffer(static_cast<size_t>(MiB));
    for (const auto& file : plan) {
        const std::string path = (root + u'/' + file.path).toStdString();
        fs::create_directories(fs::path(path).parent_path());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("create " + path);
        writeRandom(fd, 0, file.size, random, buffer, path);
        if (::close(fd) != 0)
            fail("close " + path);
    }
    ::sync();
}

TreeTotals treeTotals(const QString& root)
{
    TreeTotals totals;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root.toStdString(), error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error)) {
            totals.bytes += qint64(it->file_size(error));
            ++totals.files;
        }
    }
    if (error)
        throw std::runtime_error("cannot list " + root.toStdString() + ": " + error.message());
    return totals;
}

void removeTree(const QString& path)
{
    std::error_code error;
    fs::remove_all(path.toStdString(), error);
    if (error)
        note(QStringLiteral("could not remove %1: %2").arg(path, QString::fromStdString(error.message())));
}

void syncFileSystemOf(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + path.toStdString());
    if (::syncfs(fd) != 0)
        fail("syncfs " + path.toStdString());
    ::close(fd);
}

QString runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted())
        throw std::runtime_error("cannot start " + program.toStdString());
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + ' ' + arguments.join(u' ').toStdString() + " failed: "
                                 + QString::fromUtf8(process.readAllStandardError()).trimmed().toStdString());
    return output;
}

double timedCopy(const QString& source, const QString& destination, double* withoutSync)
{
    const auto start = Clock::now();
    const int status = QProcess::execute(
        QStringLiteral("cp"), {QStringLiteral("-r"), QStringLiteral("--reflink=never"), source, destination});
    *withoutSync = secondsSince(start);
    syncFileSystemOf(destination);
    const double seconds = secondsSince(start);
    if (status != 0)
        throw std::runtime_error("cp failed");
    return seconds;
}

// ---------------------------------------------------------------------------------------------
// The page cache.

bool CacheControl::probe()
{
    m_canDrop = drop();
    return m_canDrop;
}

void CacheControl::prepare() const
{
    ::sync();
    if (m_canDrop && !drop())
        throw std::runtime_error("dropping the page cache stopped working");
    if (!m_probe.isEmpty())
        settle();
}

void CacheControl::settleDiskOf(const QString& folder)
{
    m_probe = folder + QStringLiteral("/.settle-probe");
}

void CacheControl::settle() const
{
    const int fd = ::open(QFile::encodeName(m_probe).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("the disk's probe file can't be written: " + m_probe.toStdString());
    const std::array<char, 4096> block{};
    const auto start = Clock::now();
    int quiet = 0;
    while (quiet < 3 && secondsSince(start) < longestS) {
        const auto begin = Clock::now();
        if (::pwrite(fd, block.data(), block.size(), 0) != qint64(block.size()) || ::fdatasync(fd) != 0) {
            ::close(fd);
            throw std::runtime_error("the disk's probe file can't be written: " + m_probe.toStdString());
        }
        quiet = secondsSince(begin) * 1000 < quietMs ? quiet + 1 : 0;
    }
    ::close(fd);
    const double waited = secondsSince(start);
    ++m_settling.waits;
    if (waited * 1000 > Settling::stallMs)
        ++m_settling.stalls;
    m_settling.longest = std::max(m_settling.longest, waited);
}

bool CacheControl::drop()
{
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, "3", 1) == 1;
    ::close(fd);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Clients.

double timed(const CacheControl& cache, const QStringList& folders, const std::function<void()>& step)
{
    cache.prepare();
    const auto start = Clock::now();
    step();
    for (const QString& folder : folders)
        syncFileSystemOf(folder);
    return secondsSince(start);
}

Clients::Clients(QString localRoot, bool createLocalFolders)
    : m_localRoot(std::move(localRoot)),
      m_createLocalFolders(createLocalFolders)
{
}

std::shared_ptr<FileManaging> Clients::fileManager(const QString& client) const
{
    const QString local = localFolder(client);
    if (m_createLocalFolders)
        fs::create_directories(local.toStdString());
    return std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                               local + QStringLiteral("/downloads"));
}

ClientIdentity Clients::identity(const QString& client)
{
    const QString user = client.toLower();
    return ClientIdentity{QStringLiteral("BENCH-") + client.toUpper(),
                          UserIdentity{user, user + QStringLiteral(" Editor"), QStringLiteral("host-") + user}};
}

std::shared_ptr<TeamBundle> Clients::create(const QString& root, const QString& client) const
{
    return quiet(
        TeamBundle::create(root, fileManager(client), std::make_shared<RecordingWorkspace>(), identity(client)));
}

std::shared_ptr<TeamBundle> Clients::open(const QString& root, const QString& client) const
{
    return quiet(TeamBundle::open(root, fileManager(client), std::make_shared<RecordingWorkspace>(), identity(client)));
}

std::shared_ptr<TeamBundle> Clients::quiet(std::shared_ptr<TeamBundle> team)
{
    team->setPollInterval(std::chrono::hours(24));
    return team;
}

std::vector<IdFor<VersionBundle>> buildLargeTeam(const QString& root, const Clients& clients, std::uint64_t seed,
                                                 const LargeTeamShape& shape)
{
    std::vector<std::shared_ptr<TeamBundle>> writers;
    writers.push_back(clients.create(root, QStringLiteral("writer1")));
    for (int writer = 2; writer <= shape.writers; ++writer)
        writers.push_back(clients.open(root, QStringLiteral("writer%1").arg(writer)));

    // One stored tree stands for every version: nothing here reads them.
    Manifest manifest;
    manifest.rootKind = Manifest::RootKind::file;
    ManifestEntry entry;
    entry.hash = writers[0]->contents().storeBytes("<mlt version=\"7.22.0\"/>");
    entry.size = 23;
    manifest.entries.append(entry);
    const ContentHash manifestHash = storeTree(writers[0]->contents(), manifest);

    Random random(seed);
    std::vector<IdFor<VersionBundle>> collections;
    std::vector<IdFor<VersionBundle>> documents;
    std::vector<JournalChange> batch;
    const auto flush = [&] {
        if (!batch.empty())
            writers[0]->commit(batch);
        batch.clear();
    };
    for (int index = 0; index < shape.collections; ++index) {
        const auto id = IdFor<VersionBundle>::make();
        collections.push_back(id);
        batch.push_back(
            {id,
             RecordKind::create,
             {{QStringLiteral("type"), DocumentType::collection().toJson()},
              {QStringLiteral("name"), QStringLiteral("Collection %1").arg(index + 1, 4, 10, QLatin1Char('0'))}}});
        if (batch.size() == size_t(shape.bundlesPerRecord))
            flush();
    }
    flush();
    for (const auto& writer : writers)
        writer->poll();

    const DocumentType types[] = {DocumentType::kdenliveProject(), DocumentType::subtitles(),
                                  DocumentType::blenderProject(),  DocumentType::textDocument(),
                                  DocumentType::pdfDocument(),     DocumentType::ardourSession()};
    // Each writer records its own documents, a few to a record.
    std::vector<std::vector<JournalChange>> pending(static_cast<size_t>(shape.writers));
    std::vector<int> pendingBundles(static_cast<size_t>(shape.writers), 0);
    for (int index = 0; index < shape.documents; ++index) {
        const size_t writer = size_t(index % shape.writers);
        auto& changes = pending[writer];
        const DocumentType& type = types[random.below(6)];
        const auto id = IdFor<VersionBundle>::make();
        documents.push_back(id);
        changes.push_back({id,
                           RecordKind::create,
                           {{QStringLiteral("type"), type.toJson()},
                            {QStringLiteral("name"), QStringLiteral("Shot %1").arg(index + 1, 5, 10, QLatin1Char('0'))},
                            {QStringLiteral("extension"), type.preferredExtension()}}});
        changes.push_back(
            {id, RecordKind::version,
             versionFields(manifestHash, QStringLiteral("Initial Commit"), type, VersionOrigin::imported)});
        const int moreVersions = random.below(3);
        for (int version = 0; version < moreVersions; ++version)
            changes.push_back({id, RecordKind::version,
                               versionFields(manifestHash, QStringLiteral("Revision %1").arg(version + 2), type,
                                             VersionOrigin::checkedIn)});
        changes.push_back({collections[size_t(random.below(shape.collections))],
                           RecordKind::nest,
                           {{QStringLiteral("child"), id.toString()}}});
        if (random.below(10) == 0)
            changes.push_back({collections[size_t(random.below(shape.collections))],
                               RecordKind::nest,
                               {{QStringLiteral("child"), id.toString()}}});
        if (++pendingBundles[writer] == shape.bundlesPerRecord || index + shape.writers >= shape.documents) {
            writers[writer]->commit(changes);
            changes.clear();
            pendingBundles[writer] = 0;
        }
    }
    return documents;
}

TeamWriter::TeamWriter(std::shared_ptr<TeamBundle> team) : m_team(std::move(team))
{
    // Every document holds the same small file: what is measured is the records, not the contents.
    Manifest manifest;
    manifest.rootKind = Manifest::RootKind::file;
    ManifestEntry entry;
    entry.hash = m_team->contents().storeBytes("<mlt version=\"7.22.0\"/>");
    entry.size = 23;
    manifest.entries.append(entry);
    m_manifest = storeTree(m_team->contents(), manifest);
}

TeamWriter::~TeamWriter() = default;

IdFor<VersionBundle> TeamWriter::add(const DocumentType& type, const QString& name,
                                     const std::optional<IdFor<VersionBundle>>& container, int versions)
{
    const auto id = IdFor<VersionBundle>::make();
    QJsonObject fields{{QStringLiteral("type"), type.toJson()}, {QStringLiteral("name"), name}};
    if (type != DocumentType::collection())
        fields.insert(QStringLiteral("extension"), type.preferredExtension());
    push({id, RecordKind::create, fields});
    if (type != DocumentType::collection()) {
        push({id, RecordKind::version,
              versionFields(m_manifest, QStringLiteral("Initial Commit"), type, VersionOrigin::imported)});
        for (int version = 2; version <= versions; ++version)
            push({id, RecordKind::version,
                  versionFields(m_manifest, QStringLiteral("Cut %1").arg(version), type, VersionOrigin::checkedIn)});
    }
    if (container)
        push({*container, RecordKind::nest, {{QStringLiteral("child"), id.toString()}}});
    return id;
}

void TeamWriter::push(JournalChange change)
{
    m_batch.push_back(std::move(change));
    if (m_batch.size() >= size_t(bundlesPerRecord) * 3)
        flush();
}

void TeamWriter::flush()
{
    if (!m_batch.empty())
        m_team->commit(m_batch);
    m_batch.clear();
}

void addVersion(TeamBundle& team, const IdFor<VersionBundle>& document, const DocumentType& type,
                const ContentHash& manifest, const QString& message)
{
    team.commit(RecordKind::version, document, versionFields(manifest, message, type, VersionOrigin::checkedIn));
}

DocumentType ordinaryDocumentType(int index)
{
    const DocumentType types[] = {DocumentType::kdenliveProject(), DocumentType::subtitles(),
                                  DocumentType::blenderProject(), DocumentType::textDocument()};
    return types[index % 4];
}

QString buildWindowTeam(const QString& root, const Clients& clients, int documentCount, int eventCount)
{
    TeamWriter writer(clients.create(root, QStringLiteral("writer1")));
    const auto collection = writer.add(DocumentType::collection(), QStringLiteral("Footage"), std::nullopt);
    const auto library = writer.add(DocumentType::library(), QStringLiteral("Main Library"), collection);
    for (int index = 0; index < eventCount; ++index)
        writer.add(DocumentType::event(), QStringLiteral("Event %1").arg(index + 1, 4, 10, QLatin1Char('0')), library);
    for (int index = 1; index < documentCount; ++index)
        writer.add(ordinaryDocumentType(index), QStringLiteral("Shot %1").arg(index, 5, 10, QLatin1Char('0')),
                   collection);
    writer.flush();
    return QStringLiteral("Footage");
}

// ---------------------------------------------------------------------------------------------
// The run and the report.

QString verdict(bool pass)
{
    return pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

void printTable(const std::vector<Row>& rows)
{
    std::vector<QStringList> table{
        {QStringLiteral("Measure"), QStringLiteral("Figure"), QStringLiteral("Target"), QStringLiteral("Result")}};
    for (const auto& row : rows)
        table.push_back({row.measure, row.figure, row.target, row.result});
    printColumns(table);
}

void printColumns(const std::vector<QStringList>& rows)
{
    std::vector<qsizetype> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), size_t(row.size())), 6);
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[size_t(column)] = std::max(widths[size_t(column)], row[column].size());
    }
    const auto line = [&](const QStringList& row) {
        std::string text = "|";
        for (size_t column = 0; column < widths.size(); ++column) {
            const QString cell = qsizetype(column) < row.size() ? row[qsizetype(column)] : QString();
            text += ' ' + cell.leftJustified(widths[column]).toStdString() + " |";
        }
        std::printf("%s\n", text.c_str());
    };
    for (size_t index = 0; index < rows.size(); ++index) {
        line(rows[index]);
        if (index == 0) {
            std::string rule = "|";
            for (const qsizetype width : widths)
                rule += std::string(size_t(width) + 2, '-') + '|';
            std::printf("%s\n", rule.c_str());
        }
    }
}

std::optional<Options> parseOptions(const QStringList& arguments, const char* program, const char* defaultFolder,
                                    const char* space)
{
    Options options{QString::fromUtf8(defaultFolder), false};
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--keep-data")) {
            options.keep = true;
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            std::printf("usage: %s [FOLDER] [--keep-data]\n"
                        "  FOLDER  where to generate and measure (default %s); needs %s free\n",
                        program, defaultFolder, space);
            return std::nullopt;
        } else {
            options.base = argument;
        }
    }
    return options;
}

WorkFolder::WorkFolder(const QString& base, const QString& prefix, bool keep, qint64 needed) : m_keep(keep)
{
    fs::create_directories(base.toStdString());
    struct statvfs space {};
    if (::statvfs(QFile::encodeName(base).constData(), &space) == 0
        && qint64(space.f_bavail) * qint64(space.f_frsize) < needed)
        throw std::runtime_error("less than " + std::to_string(needed / GiB) + " GiB free in " + base.toStdString());

    m_path = QDir(base).absoluteFilePath(QStringLiteral("%1-%2").arg(prefix).arg(::getpid()));
    if (QFileInfo::exists(m_path))
        throw std::runtime_error(m_path.toStdString() + " exists already");
    fs::create_directories(m_path.toStdString());
}

WorkFolder::~WorkFolder()
{
    if (!m_keep)
        removeTree(m_path);
}

int benchMain(int argc, char** argv, const char* program, int (*run)(const QStringList&))
{
    QCoreApplication app(argc, argv);
    setNoteTag(program);
    try {
        return run(app.arguments().mid(1));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", program, error.what());
        return 1;
    }
}

} // namespace vantrel::bench
