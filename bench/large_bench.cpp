// large_bench: what a version of a large file costs, in room on the team bundle, in time and in
// bytes over the network, side by side with cp, restic and borg.
//
// Measures, in one run (see bench/README.md):
//   1. on the local disk, a 2 GiB file: its import against cp; 1 MiB of new bytes written in its
//      middle, then checked in, against a cold read of the file and restic's and borg's backup of
//      the same change; then an insert, an append and scattered writes, each checked in and
//      backed up, with what the team bundle and the repositories grew by;
//   2. the same file with the team bundle on an sshfs share and on an SMB share: the import
//      against cp onto the share, the same file imported again (the bytes the mount read), and a
//      teammate (through a second mount of the share) checking out for the first time (an empty
//      cache) and the version after the middle edit, against a cp and a read of the file from
//      the share, with the bytes the teammate's mount read;
//   3. the growth for the same edits of a 200 MiB file and of the 50 MiB file of a package of
//      2,001 files, beside restic's and borg's.

#include "bench/large_bench.h"
#include "bench/backup_repository.h"
#include "support/smb_share.h"
#include "support/sshfs_share.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vantrel::bench::large {

namespace {

constexpr std::uint64_t dataSeed = 0x4C41524745ULL; // fixed: every run generates the same files
constexpr qint64 mediumBytes = 200 * MiB;
constexpr int packageFiles = 2001;
constexpr qint64 packageLargeBytes = 50 * MiB;
const QString packageLargeFile = QStringLiteral("Media/interview.mov");

qint64 editOffset(qint64 fileBytes)
{
    return fileBytes / 2 - editBytes / 2 + 4321; // not on a boundary any store would favour
}

std::vector<char> editedBytes(int round)
{
    Random random(dataSeed + 1000 + std::uint64_t(round));
    std::vector<char> bytes(static_cast<size_t>(editBytes));
    random.fill(bytes.data(), bytes.size());
    return bytes;
}

// 2,000 files of log-uniform sizes between 3 KiB and 128 KiB in a few folders, and one of 50 MiB.
std::vector<PackageFile> planPackage()
{
    Random random(dataSeed ^ 0x9ACCULL);
    static const char* const tops[] = {"Project", "Graphics", "Audio", "Titles", "Cache"};
    std::vector<PackageFile> files{{packageLargeFile, packageLargeBytes}};
    const double low = std::log(double(3 * KiB));
    const double high = std::log(double(128 * KiB));
    for (int index = 1; index < packageFiles; ++index)
        files.push_back({QStringLiteral("%1/Reel %2/item-%3.bin")
                             .arg(QLatin1String(tops[random.below(5)]))
                             .arg(random.below(8) + 1)
                             .arg(index, 4, 10, QLatin1Char('0')),
                         qint64(std::exp(low + random.uniform() * (high - low)))});
    return files;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2) : QString();
}

// FOLDER, --keep-data, and this benchmark's own: --size=MiB (the large file), --quick (256 MiB),
// --only=local,share,smb,smaller.
std::optional<Options> parseSettings(const QStringList& arguments, Settings& settings)
{
    QStringList rest;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1String("--size="))) {
            settings.largeBytes = argument.mid(7).toLongLong() * MiB;
            if (settings.largeBytes < 16 * MiB)
                throw std::runtime_error("--size takes MiB, at least 16");
        } else if (argument == QLatin1String("--quick")) {
            settings.largeBytes = 256 * MiB;
        } else if (argument.startsWith(QLatin1String("--only="))) {
            const QStringList parts = argument.mid(7).split(u',');
            settings.local = parts.contains(QLatin1String("local"));
            settings.share = parts.contains(QLatin1String("share"));
            settings.smb = parts.contains(QLatin1String("smb"));
            settings.smaller = parts.contains(QLatin1String("smaller"));
        } else {
            rest << argument;
        }
    }
    if (rest.contains(QLatin1String("-h")) || rest.contains(QLatin1String("--help"))) {
        std::printf(
            "usage: large_bench [FOLDER] [--keep-data] [--size=MiB | --quick] [--only=local,share,smb,smaller]\n"
            "  --size   the large file (default 2048 MiB; --quick: 256 MiB)\n"
            "  FOLDER   where to generate and measure; needs 7 times the large file free, plus 1 GiB\n");
        return std::nullopt;
    }
    return parseOptions(rest, "large_bench", VANTREL_BENCH_DEFAULT_FOLDER, "7 times the large file");
}

int run(const QStringList& arguments)
{
    Settings settings;
    const auto options = parseSettings(arguments, settings);
    if (!options)
        return 0;
    std::signal(SIGPIPE, SIG_IGN);
    const QString restic = BackupRepository::version(BackupRepository::Tool::restic);
    if (restic.isEmpty())
        throw std::runtime_error("restic is missing: bench/run.sh large installs Debian's");
    const QString borg = BackupRepository::version(BackupRepository::Tool::borg);
    if (borg.isEmpty())
        throw std::runtime_error("borg is missing: bench/run.sh large installs Debian's borgbackup");
    if (const QString missing = testing::SshfsShare::missing(); settings.share && !missing.isEmpty())
        throw std::runtime_error("no sshfs share can be made here; missing: " + missing.toStdString());
    if (const QString missing = testing::SmbShare::missing(); settings.smb && !missing.isEmpty())
        throw std::runtime_error("no SMB share can be made here; missing: " + missing.toStdString());
    const WorkFolder workFolder(options->base, QStringLiteral("large-bench"), options->keep,
                                7 * settings.largeBytes + GiB);
    settings.work = workFolder.path();
    const QString loadBefore = loadAverage();
    CacheControl cache;
    const bool dropping = cache.probe();
    const Clients clients(settings.work + QStringLiteral("/local"), true);

    const QString sources = settings.work + QStringLiteral("/source");
    note(QStringLiteral("generating the files in %1").arg(sources));
    generateFiles(sources, {{QStringLiteral("Large.blend"), settings.largeBytes}}, dataSeed);
    Results results;
    // A part that fails is reported as not measured; the others still are.
    QStringList failures;
    const auto attempt = [&](const char* part, bool& wanted, const std::function<void()>& measure) {
        if (!wanted)
            return;
        try {
            measure();
        } catch (const std::exception& error) {
            wanted = false;
            struct statvfs space {};
            const qint64 free = ::statvfs(QFile::encodeName(settings.work).constData(), &space) == 0
                                    ? qint64(space.f_bavail) * qint64(space.f_frsize)
                                    : -1;
            failures << QStringLiteral("%1: %2 (%3 free on the disk then)")
                            .arg(QLatin1String(part), QString::fromUtf8(error.what()), miB(double(free)));
            note(failures.last());
        }
    };
    attempt("local disk", settings.local, [&] {
        const QString folder = settings.work + QStringLiteral("/place");
        QDir().mkpath(folder);
        results.local = measurePlace({QStringLiteral("local disk"), folder, QString(), folder}, settings,
                                     sources + QStringLiteral("/Large.blend"), clients, cache);
        removeTree(folder);
    });
    // The large file's rounds on a share that two computers mount, the teammate the second.
    const auto onShare = [&](auto& share, const QString& name) {
        const QString one = share.mount(QStringLiteral("one"));
        const QString two = one.isEmpty() ? QString() : share.mount(QStringLiteral("two"));
        if (two.isEmpty())
            throw std::runtime_error("the share could not be mounted: " + share.error().toStdString());
        PlaceFigures figures = measurePlace({name, one, two, share.exportFolder()}, settings,
                                            sources + QStringLiteral("/Large.blend"), clients, cache);
        share.stop();
        return figures;
    };
    attempt("sshfs share", settings.share, [&] {
        testing::SshfsShare share(settings.work);
        results.share = onShare(share, QStringLiteral("sshfs share"));
    });
    attempt("SMB share", settings.smb, [&] {
        testing::SmbShare share(settings.work);
        results.smb = onShare(share, QStringLiteral("SMB share"));
    });
    removeTree(settings.work + QStringLiteral("/place"));
    attempt("smaller files", settings.smaller, [&] {
        generateFiles(sources, {{QStringLiteral("Medium.blend"), mediumBytes}}, dataSeed ^ 0x200ULL);
        generateFiles(sources + QStringLiteral("/Package.prproj"), planPackage(), dataSeed ^ 0x2001ULL);
        note(QStringLiteral("growth of the 200 MiB file"));
        results.medium = measureGrowth(sources + QStringLiteral("/Medium.blend"), QString(), settings, clients, cache);
        note(QStringLiteral("growth of the package"));
        results.package =
            measureGrowth(sources + QStringLiteral("/Package.prproj"), packageLargeFile, settings, clients, cache);
    });

    std::printf("\nVantrel large-file benchmark\n");
    std::printf("  machine:    %s, %d threads, Qt %s; load average %s at the start, %s at the end\n",
                qPrintable(QSysInfo::prettyProductName()), QThread::idealThreadCount(), qVersion(),
                qPrintable(loadBefore), qPrintable(loadAverage()));
    std::printf("  disk:       %s (%s); the shares: sshfs (defaults) to a private sshd, smbnetfs to a private smbd, "
                "on 127.0.0.1, each mounted twice\n",
                qPrintable(settings.work), qPrintable(fileSystemType(settings.work)));
    std::printf("  files:      %s, 200 MiB, a package of %d files with one of 50 MiB; edits: %s of new bytes over "
                "the middle, inserted in the middle, appended, and %d writes of %s spread over the file\n",
                qPrintable(mebibytes(double(settings.largeBytes), 0)), packageFiles,
                qPrintable(mebibytes(double(editBytes), 0)), pieces,
                qPrintable(QStringLiteral("%1 KiB").arg(pieceBytes / KiB)));
    std::printf("  beside:     cp --reflink=never; %s; %s\n", qPrintable(restic), qPrintable(borg));
    std::printf("  page cache: %s; medians of %d rounds (ratios: medians of the rounds' ratios)\n\n",
                dropping ? "dropped before every timed step" : "not dropped (not root?)", rounds);
    report(settings, results);
    for (const QString& failure : failures)
        std::printf("\nNot measured: %s\n", qPrintable(failure));
    if (options->keep)
        std::printf("\nData kept in %s\n", qPrintable(settings.work));
    return failures.isEmpty() ? 0 : 1;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Shared with the rounds.

QString editName(Edit edit)
{
    switch (edit) {
    case Edit::middle:
        return QStringLiteral("middle");
    case Edit::insert:
        return QStringLiteral("insert");
    case Edit::append:
        return QStringLiteral("append");
    case Edit::scattered:
        return QStringLiteral("scattered");
    }
    return {};
}

qint64 applyEdit(const QString& path, Edit edit, int round)
{
    const std::vector<char> bytes = editedBytes(round);
    const std::string name = path.toStdString();
    const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        fail("open " + name);
    struct stat status {};
    ::fstat(fd, &status);
    const qint64 size = qint64(status.st_size);
    qint64 written = editBytes;
    switch (edit) {
    case Edit::middle:
        writeAllAt(fd, bytes.data(), bytes.size(), editOffset(size), name);
        break;
    case Edit::insert: {
        // The tail moves by the new bytes, from the end backwards, then they fill the gap.
        const qint64 offset = editOffset(size);
        std::vector<char> buffer(static_cast<size_t>(8 * MiB));
        for (qint64 end = size; end > offset;) {
            const qint64 start = std::max(offset, end - qint64(buffer.size()));
            const size_t length = size_t(end - start);
            if (::pread(fd, buffer.data(), length, start) != ssize_t(length))
                fail("read " + name);
            writeAllAt(fd, buffer.data(), length, start + editBytes, name);
            end = start;
        }
        writeAllAt(fd, bytes.data(), bytes.size(), offset, name);
        break;
    }
    case Edit::append:
        writeAllAt(fd, bytes.data(), bytes.size(), size, name);
        break;
    case Edit::scattered:
        // One write in each tenth of the file, on no boundary either.
        for (int piece = 0; piece < pieces; ++piece)
            writeAllAt(fd, bytes.data() + piece * pieceBytes, size_t(pieceBytes),
                       size / pieces * piece + size / (2 * pieces) + 4321, name);
        written = pieces * pieceBytes;
        break;
    }
    if (::close(fd) != 0)
        fail("close " + name);
    return written;
}

void requireEdit(const QString& path, qint64 fileBytes, int round)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != fileBytes || !file.seek(editOffset(fileBytes)))
        throw std::runtime_error("the teammate's check-out does not hold the whole file");
    const QByteArray data = file.read(editBytes);
    const std::vector<char> expected = editedBytes(round);
    if (data.size() != qsizetype(expected.size()) || std::memcmp(data.constData(), expected.data(), expected.size()))
        throw std::runtime_error("the teammate's check-out does not hold the change checked in");
}

double mountReadBytes(const QString& mountPoint)
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (entry.toLongLong() <= 0)
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!commandLine.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> words = commandLine.readAll().split('\0');
        if (words.isEmpty() || !words.first().endsWith("sshfs") || !words.contains(QFile::encodeName(mountPoint)))
            continue;
        QFile io(QStringLiteral("/proc/%1/io").arg(entry));
        if (!io.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : io.readAll().split('\n'))
            if (line.startsWith("rchar:"))
                return line.mid(6).trimmed().toDouble();
    }
    return -1;
}

} // namespace vantrel::bench::large

int main(int argc, char** argv)
{
    return vantrel::bench::benchMain(argc, argv, "large_bench", vantrel::bench::large::run);
}
