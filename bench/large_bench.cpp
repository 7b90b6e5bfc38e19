// large_bench: what a version of a large file costs, in room on the team bundle, in time and in
// bytes over the network, side by side with cp and restic.
//
// Measures, in one run (see bench/README.md):
//   1. on the local disk, a 2 GiB file: its import against cp; 1 MiB of new bytes written in its
//      middle, then checked in, against cp of the whole file and restic's backup of the same
//      change, and what the team bundle and restic's repository grew by;
//   2. the same with the team bundle and restic's repository on an sshfs share, and a teammate
//      (through a second mount of the share) checking out the new version after having checked
//      out the one before, and for the first time (an empty cache), against a read and a cp of
//      the file from the share, with the bytes the teammate's mount read;
//   3. the growth for the same change of a 200 MiB file and of the 50 MiB file of a package of
//      2,001 files, beside restic's.

#include "bench/large_bench.h"
#include "bench/restic_repository.h"
#include "support/sshfs_share.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>

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

// ---------------------------------------------------------------------------------------------
// The report.

double ratioMedian(const std::vector<double>& values, const std::vector<double>& bases)
{
    std::vector<double> ratios;
    for (size_t index = 0; index < values.size() && index < bases.size(); ++index)
        ratios.push_back(values[index] / bases[index]);
    return median(ratios);
}

QString ratioText(double ratio)
{
    // Three digits for the small ratios, so that a figure over its target does not read as equal.
    return QStringLiteral("%1x").arg(ratio, 0, 'f', ratio < 0.1 ? 3 : 2);
}

QString miB(double bytes)
{
    return bytes < 0 ? QStringLiteral("n/a") : mebibytes(bytes, 2);
}

QString outcome(bool pass)
{
    return pass ? QStringLiteral("PASS") : QStringLiteral("MISS");
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2) : QString();
}

struct Results {
    PlaceFigures local;
    PlaceFigures share;
    GrowthFigures medium;
    GrowthFigures package;
};

void report(const Settings& settings, const Results& results)
{
    const QString large = mebibytes(double(settings.largeBytes), 0);
    std::vector<QStringList> table{{QStringLiteral("Measure"), QStringLiteral("Vantrel"), QStringLiteral("restic"),
                                    QStringLiteral("Target"), QStringLiteral("Result")}};
    const auto growthRow = [&](const QString& what, const std::vector<double>& engine,
                               const std::vector<double>& restic, double targetMiB) {
        const double value = median(engine);
        table.push_back({what, miB(value), miB(median(restic)), QStringLiteral("<= %1 MiB").arg(targetMiB),
                         outcome(value <= targetMiB * double(MiB))});
    };
    const auto ratioRow = [&](const QString& what, double value, const QString& restic, double target) {
        table.push_back(
            {what, ratioText(value), restic, QStringLiteral("<= %1x").arg(target), outcome(value <= target)});
    };
    const auto info = [&](const QString& what, const QString& value, const QString& restic = QString()) {
        table.push_back({what, value, restic, QString(), QStringLiteral("info")});
    };
    const PlaceFigures& local = results.local;
    const PlaceFigures& share = results.share;
    if (settings.local) {
        growthRow(QStringLiteral("bundle growth, 1 MiB changed in the middle of a %1 file").arg(large), local.growth,
                  local.resticGrowth, 4);
        ratioRow(QStringLiteral("check-in of that change, local disk, x cp of the whole file"),
                 ratioMedian(local.checkIn, local.copyTo), ratioText(ratioMedian(local.restic, local.copyTo)), 0.5);
        ratioRow(QStringLiteral("the same check-in, x restic's backup in the same round"),
                 ratioMedian(local.checkIn, local.restic), QString(), 1.0);
        ratioRow(QStringLiteral("import of the %1 file, local disk, x cp").arg(large),
                 ratioMedian(local.import, local.copyTo), QString(), 1.0);
    }
    if (settings.smaller) {
        growthRow(QStringLiteral("growth, 1 MiB changed in a 200 MiB file"), results.medium.engine,
                  results.medium.restic, 3);
        growthRow(QStringLiteral("growth, 1 MiB changed in the 50 MiB file of a 2,001-file package"),
                  results.package.engine, results.package.restic, 6);
    }
    if (settings.share) {
        ratioRow(QStringLiteral("check-in on the sshfs share, x cp of the whole file onto the share"),
                 ratioMedian(share.checkIn, share.copyTo), ratioText(ratioMedian(share.restic, share.copyTo)), 0.15);
        const double warm = ratioMedian(share.warmCheckOut, share.read);
        ratioRow(QStringLiteral("teammate's check-out of that version (checked out the one before), x a read"), warm,
                 QString(), 0.15);
        info(QStringLiteral("the same, until the working copy is on disk (the cache written after), x a read"),
             ratioText(ratioMedian(share.warmCheckOutWait, share.read)));
        const double warmBytes = median(share.warmShareBytes);
        table.push_back({QStringLiteral("the same, read from the share"), miB(warmBytes), QString(),
                         QStringLiteral("<= 16 MiB"), outcome(warmBytes >= 0 && warmBytes <= 16.0 * double(MiB))});
        ratioRow(QStringLiteral("check-out with an empty cache, x cp of the file from the share"),
                 ratioMedian(share.emptyCheckOut, share.copyFrom), QString(), 1.0);
        info(QStringLiteral("the same, until the working copy is on disk (the cache written after), x cp"),
             ratioText(ratioMedian(share.emptyCheckOutWait, share.copyFrom)));
        info(QStringLiteral("the same, read from the share"), miB(median(share.emptyShareBytes)));
        info(QStringLiteral("bundle growth of the check-in on the share"), miB(median(share.growth)),
             miB(median(share.resticGrowth)));
        info(QStringLiteral("import on the share, x cp onto the share"),
             ratioText(ratioMedian(share.import, share.copyTo)));
    }
    printColumns(table);

    std::printf("\nDetails (seconds or MiB, every round in order):\n\n");
    const auto mib = [](double bytes) { return miB(bytes); };
    std::vector<QStringList> details{{QStringLiteral("Step"), QStringLiteral("Local disk"), QStringLiteral("Share")}};
    const auto both = [&](const char* what, std::vector<double> PlaceFigures::*member,
                          const std::function<QString(double)>& format) {
        details.push_back({QString::fromUtf8(what), runList(local.*member, format), runList(share.*member, format)});
    };
    both("cp of the file into the place", &PlaceFigures::copyTo, seconds);
    both("cp of that copy back to the local disk", &PlaceFigures::copyFrom, seconds);
    both("read of that copy", &PlaceFigures::read, seconds);
    both("import", &PlaceFigures::import, seconds);
    both("check-in of the change", &PlaceFigures::checkIn, seconds);
    both("restic backup of the change", &PlaceFigures::restic, seconds);
    both("bundle growth", &PlaceFigures::growth, mib);
    both("restic repository growth", &PlaceFigures::resticGrowth, mib);
    both("teammate's check-out, having checked out the one before", &PlaceFigures::warmCheckOut, seconds);
    both("  until the working copy is on disk", &PlaceFigures::warmCheckOutWait, seconds);
    both("  read from the share", &PlaceFigures::warmShareBytes, mib);
    both("teammate's first check-out (empty cache)", &PlaceFigures::emptyCheckOut, seconds);
    both("  until the working copy is on disk", &PlaceFigures::emptyCheckOutWait, seconds);
    both("  read from the share", &PlaceFigures::emptyShareBytes, mib);
    if (settings.local || settings.share)
        printColumns(details);
    if (settings.smaller) {
        if (settings.local || settings.share)
            std::printf("\n");
        printColumns(
            {{QStringLiteral("Growth"), QStringLiteral("Vantrel"), QStringLiteral("restic")},
             {QStringLiteral("200 MiB file"), runList(results.medium.engine, mib), runList(results.medium.restic, mib)},
             {QStringLiteral("50 MiB file of the package"), runList(results.package.engine, mib),
              runList(results.package.restic, mib)}});
    }
}

// FOLDER, --keep-data, and this benchmark's own: --size=MiB (the large file), --quick (256 MiB),
// --only=local,share,smaller.
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
            settings.smaller = parts.contains(QLatin1String("smaller"));
        } else {
            rest << argument;
        }
    }
    if (rest.contains(QLatin1String("-h")) || rest.contains(QLatin1String("--help"))) {
        std::printf("usage: large_bench [FOLDER] [--keep-data] [--size=MiB | --quick] [--only=local,share,smaller]\n"
                    "  --size   the large file (default 2048 MiB; --quick: 256 MiB)\n"
                    "  FOLDER   where to generate and measure; needs 6 times the large file free, plus 1 GiB\n");
        return std::nullopt;
    }
    return parseOptions(rest, "large_bench", VANTREL_BENCH_DEFAULT_FOLDER, "6 times the large file");
}

int run(const QStringList& arguments)
{
    Settings settings;
    const auto options = parseSettings(arguments, settings);
    if (!options)
        return 0;
    std::signal(SIGPIPE, SIG_IGN);
    const QString restic = ResticRepository::version();
    if (restic.isEmpty())
        throw std::runtime_error("restic is missing: bench/run.sh large installs Debian's");
    if (const QString missing = testing::SshfsShare::missing(); settings.share && !missing.isEmpty())
        throw std::runtime_error("no sshfs share can be made here; missing: " + missing.toStdString());
    const WorkFolder workFolder(options->base, QStringLiteral("large-bench"), options->keep,
                                6 * settings.largeBytes + GiB);
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
    attempt("sshfs share", settings.share, [&] {
        testing::SshfsShare share(settings.work);
        const QString one = share.mount(QStringLiteral("one"));
        const QString two = one.isEmpty() ? QString() : share.mount(QStringLiteral("two"));
        if (two.isEmpty())
            throw std::runtime_error("the share could not be mounted: " + share.error().toStdString());
        results.share = measurePlace({QStringLiteral("sshfs share"), one, two, share.exportFolder()}, settings,
                                     sources + QStringLiteral("/Large.blend"), clients, cache);
        share.stop();
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
    std::printf("  disk:       %s (%s); the share: sshfs (defaults) to a private sshd on 127.0.0.1, mounted twice\n",
                qPrintable(settings.work), qPrintable(fileSystemType(settings.work)));
    std::printf("  files:      %s, 200 MiB, a package of %d files with one of 50 MiB; %s of new bytes in the "
                "middle of each\n",
                qPrintable(mebibytes(double(settings.largeBytes), 0)), packageFiles,
                qPrintable(mebibytes(double(editBytes), 0)));
    std::printf("  beside:     cp --reflink=never; %s\n", qPrintable(restic.section(u'\n', 0, 0)));
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

qint64 editOffset(qint64 fileBytes)
{
    return fileBytes / 2 - editBytes / 2 + 4321; // not on a boundary any store would favour
}

void editMiddle(const QString& path, int round)
{
    const std::vector<char> bytes = editedBytes(round);
    const std::string name = path.toStdString();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + name);
    struct stat status {};
    ::fstat(fd, &status);
    writeAllAt(fd, bytes.data(), bytes.size(), editOffset(qint64(status.st_size)), name);
    if (::close(fd) != 0)
        fail("close " + name);
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
