#include "desktop/file_archiver.h"
#include "engine/logger.h"
#include "support/engine_test_support.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace vantrel;

namespace {

const UserIdentity ana{QStringLiteral("ana"), QStringLiteral("Ana Ortiz"), QStringLiteral("edit-3")};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList linesOf(const QString& path)
{
    return QString::fromUtf8(readAll(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(contents), contents.size());
}

// Entry name -> contents of every file in a ZIP.
QMap<QString, QByteArray> readZip(const QString& path)
{
    QMap<QString, QByteArray> entries;
    archive* reader = archive_read_new();
    archive_read_support_format_zip(reader);
    if (archive_read_open_filename(reader, QFile::encodeName(path).constData(), 16384) != ARCHIVE_OK) {
        archive_read_free(reader);
        return entries;
    }
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        QByteArray contents;
        char buffer[8192];
        la_ssize_t count;
        while ((count = archive_read_data(reader, buffer, sizeof buffer)) > 0)
            contents.append(buffer, count);
        entries.insert(QString::fromUtf8(archive_entry_pathname_utf8(entry)), contents);
    }
    archive_read_free(reader);
    return entries;
}

QStringList zipsIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.zip")}, QDir::Files, QDir::Name);
}

const QString entryStart = QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");

} // namespace

class LoggerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entriesFromSeveralThreadsStayWhole()
    {
        QTemporaryDir dir;
        Logger logger(dir.path() + QStringLiteral("/logs"), QStringLiteral("client-a"), ana);
        constexpr int threads = 4;
        constexpr int perThread = 1500;
        const QString padding(300, QLatin1Char('x'));
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i)
                    logger.event(QStringLiteral("t%1-%2-").arg(t).arg(i) + padding, QStringLiteral("Worker::run"));
            });
        }
        for (auto& worker : workers)
            worker.join();

        const QRegularExpression whole(entryStart
                                       + QStringLiteral(R"(INFO ana@edit-3 \[Worker::run\] t(\d)-(\d+)-x{300}$)"));
        const QStringList lines = linesOf(logger.logFilePath());
        QCOMPARE(lines.size(), threads * perThread);
        std::vector<int> next(threads, 0);
        for (const QString& line : lines) {
            const auto match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(120)));
            // Each thread's entries appear in the order it wrote them.
            const int t = match.captured(1).toInt();
            QCOMPARE(match.captured(2).toInt(), next[t]++);
        }
    }

    void lineBreaksBecomeIndentedContinuationLines()
    {
        QTemporaryDir dir;
        Logger logger(dir.path(), QStringLiteral("client-a"), ana);
        logger.event(QStringLiteral("Could not lock “Final”.\nIt is locked by Ben.\r\n\r\n") + QChar(0x2028)
                         + QStringLiteral("2024-01-01T00:00:00.000Z ERROR x@y [fake] entry\n"),
                     QStringLiteral("LockManager::\nacquire"), Logger::Level::warning);
        logger.event(QStringLiteral("next"), QStringLiteral("Other::call"), Logger::Level(3));

        const QStringList lines = linesOf(logger.logFilePath());
        QCOMPARE(lines.size(), 6);
        QVERIFY(QRegularExpression(entryStart
                                   + QStringLiteral(R"(WARNING ana@edit-3 \[LockManager:: acquire\] )"
                                                    "Could not lock “Final”.$"))
                    .match(lines[0])
                    .hasMatch());
        QCOMPARE(lines[1], QStringLiteral("  It is locked by Ben."));
        QCOMPARE(lines[2], QStringLiteral("  "));
        QCOMPARE(lines[3], QStringLiteral("  "));
        QCOMPARE(lines[4], QStringLiteral("  2024-01-01T00:00:00.000Z ERROR x@y [fake] entry"));
        QVERIFY(QRegularExpression(entryStart + QStringLiteral(R"(INFO ana@edit-3 \[Other::call\] next$)"))
                    .match(lines[5])
                    .hasMatch());
    }

    void controlCharactersAreEscapedWhereverTheyAre()
    {
        QTemporaryDir dir;
        Logger logger(dir.path(), QStringLiteral("client-a"), ana);
        logger.event(QStringLiteral("red \x1b[31m\tbell\x07 del\x7f c1\u009b rlo\u202e\nsecond\x1b line"),
                     QStringLiteral("Test::\x1b]0;title\x07run"));
        const QStringList lines = linesOf(logger.logFilePath());
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].endsWith(QStringLiteral(
                     R"( [Test::\x1b]0;title\x07run] red \x1b[31m\tbell\x07 del\x7f c1\x9b rlo\u{202e})")),
                 qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral(R"(  second\x1b line)"));
        // A value read from a team bundle keeps even its line breaks on the entry's line.
        QCOMPARE(escapedForLog(QStringLiteral("a\nb\r\n\u2028c\x1b\u2066d")),
                 QStringLiteral(R"(a\nb\r\n\u{2028}c\x1b\u{2066}d)"));
        QCOMPARE(escapedForLog(QStringLiteral("Plain “name” / ünïcode")), QStringLiteral("Plain “name” / ünïcode"));
    }

    void theLogIsNeverReachedThroughALinkOrAFifo()
    {
        QTemporaryDir dir;
        const QString logs = dir.filePath(QStringLiteral("logs")),
                      elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        const QString outside = dir.filePath(QStringLiteral("outside"));
        writeFile(outside, "kept\n");
        QVERIFY(QDir().mkpath(logs) && QDir().mkpath(elsewhere));
        testing::plantLink(logs + QStringLiteral("/linked.log"), outside);
        testing::plantLink(dir.filePath(QStringLiteral("linked logs")), elsewhere);
        // A FIFO with a reader: opening it for writing would succeed, and block no write.
        testing::plantFifo(logs + QStringLiteral("/fifo.log"));
        const int reader = ::open(QFile::encodeName(logs + QStringLiteral("/fifo.log")).constData(),
                                  O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);

        for (const auto& [folder, client] :
             {std::pair{logs, QStringLiteral("linked")}, std::pair{logs, QStringLiteral("fifo")},
              std::pair{dir.filePath(QStringLiteral("linked logs")), QStringLiteral("client")}}) {
            Logger logger(folder, client, ana);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Could not write to the log")));
            logger.event(QStringLiteral("entry"), QStringLiteral("Test::run"));
        }
        QCOMPARE(readAll(outside), QByteArray("kept\n"));
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        char byte = 0;
        QVERIFY(::read(reader, &byte, 1) <= 0); // nothing was written
        ::close(reader);
    }

    void rotatesBeforeTheFileWouldPassTheLimit()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("client-a.log"));
        const QString rotated = dir.filePath(QStringLiteral("client-a.1.log"));
        const QByteArray earlier(Logger::rotationSize - 1000, 'e');
        writeFile(log, earlier);
        writeFile(rotated, "older rotation");

        Logger logger(dir.path(), QStringLiteral("client-a"), ana);
        logger.event(QStringLiteral("fits"), QStringLiteral("Test::run"));
        QCOMPARE(readAll(rotated), QByteArray("older rotation"));
        const QByteArray beforeRotation = readAll(log);
        QVERIFY(beforeRotation.startsWith(earlier));
        QVERIFY(beforeRotation.size() < Logger::rotationSize);

        logger.event(QString(1000, QLatin1Char('m')), QStringLiteral("Test::run"));
        QCOMPARE(readAll(rotated), beforeRotation);
        const QStringList lines = linesOf(log);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].endsWith(QString(1000, QLatin1Char('m'))));
    }

    void eachClientWritesItsOwnFile()
    {
        QTemporaryDir dir;
        const QString logs = dir.path() + QStringLiteral("/bundle/logs");
        Logger first(logs, QStringLiteral("client-a"), ana);
        Logger second(logs, QStringLiteral("client-b"),
                      UserIdentity{QStringLiteral("ben"), QStringLiteral("Ben"), QStringLiteral("edit-7")});
        first.event(QStringLiteral("from a"), QStringLiteral("A::run"));
        second.event(QStringLiteral("from b"), QStringLiteral("B::run"), Logger::Level::error);

        QCOMPARE(QDir(logs).entryList(QDir::Files, QDir::Name),
                 QStringList({QStringLiteral("client-a.log"), QStringLiteral("client-b.log")}));
        const QStringList a = linesOf(logs + QStringLiteral("/client-a.log"));
        const QStringList b = linesOf(logs + QStringLiteral("/client-b.log"));
        QCOMPARE(a.size(), 1);
        QCOMPARE(b.size(), 1);
        QVERIFY(a[0].endsWith(QStringLiteral("INFO ana@edit-3 [A::run] from a")));
        QVERIFY(b[0].endsWith(QStringLiteral("ERROR ben@edit-7 [B::run] from b")));
    }

    void anUnwritableLogWarnsOnceAndNeverThrows()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("blocker")), "not a folder");
        Logger logger(dir.filePath(QStringLiteral("blocker/logs")), QStringLiteral("client-a"), ana);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "(?s)^Could not write to the log.*INFO ana@edit-3 \\[Test::run\\] first$")));
        logger.event(QStringLiteral("first"), QStringLiteral("Test::run"));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        logger.event(QStringLiteral("second"), QStringLiteral("Test::run"));
    }

    // A team bundle this user may only read: the entries are kept on this computer, and archived.
    void entriesTheLogsFolderRefusesGoToTheLocalFile()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("blocker")), "not a folder");
        const QString local = dir.filePath(QStringLiteral("local"));
        Logger logger(dir.filePath(QStringLiteral("blocker/logs")), QStringLiteral("client-a"), ana, local);
        QCOMPARE(logger.localLogFilePath(), local + QStringLiteral("/client-a.local.log"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("entries go to .*client-a.local.log")));
        logger.event(QStringLiteral("first"), QStringLiteral("Test::run"));
        logger.event(QStringLiteral("second"), QStringLiteral("Test::run"));
        QVERIFY(readAll(logger.localLogFilePath()).contains("[Test::run] first\n"));
        const QString path =
            logger.archiveLog(QStringLiteral("Vantrel"), FileArchiver(), dir.filePath(QStringLiteral("out")));
        QCOMPARE(readZip(path).keys(), QList<QString>{QStringLiteral("client-a.local.log")});
    }

    void archiveHoldsEveryClientsLog()
    {
        QTemporaryDir dir;
        const QString logs = dir.filePath(QStringLiteral("logs"));
        Logger first(logs, QStringLiteral("client-a"), ana);
        Logger second(logs, QStringLiteral("client-b"), ana);
        first.event(QStringLiteral("from a"), QStringLiteral("A::run"));
        second.event(QStringLiteral("from b\nsecond line"), QStringLiteral("B::run"));
        writeFile(logs + QStringLiteral("/client-b.1.log"), "rotated b\n");
        writeFile(logs + QStringLiteral("/notes.txt"), "not a log");

        const QString destination = dir.filePath(QStringLiteral("Downloads/new"));
        first.archiveLogToDownloads(QStringLiteral("Vantrel"), FileArchiver(), destination);

        const QStringList zips = zipsIn(destination);
        QCOMPARE(zips.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^Vantrel Logs \d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d\.zip$)"))
                     .match(zips[0])
                     .hasMatch(),
                 qPrintable(zips[0]));
        const auto entries = readZip(destination + u'/' + zips[0]);
        QCOMPARE(entries.keys(), QList<QString>({QStringLiteral("client-a.log"), QStringLiteral("client-b.1.log"),
                                                 QStringLiteral("client-b.log")}));
        for (auto entry = entries.begin(); entry != entries.end(); ++entry)
            QCOMPARE(entry.value(), readAll(logs + u'/' + entry.key()));
        QVERIFY(entries.value(QStringLiteral("client-b.log")).contains("from b\n  second line\n"));
    }

    void archiveTakesAFreeName()
    {
        QTemporaryDir dir;
        Logger logger(dir.filePath(QStringLiteral("logs")), QStringLiteral("client-a"), ana);
        logger.event(QStringLiteral("hello"), QStringLiteral("Test::run"));

        // Every name the archive could get in the next seconds is taken.
        const QString destination = dir.filePath(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(destination));
        const QDateTime now = QDateTime::currentDateTime();
        QStringList taken;
        for (int second = -1; second <= 5; ++second) {
            taken.append(QStringLiteral("Vantrel Logs ")
                         + now.addSecs(second).toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"))
                         + QStringLiteral(".zip"));
            writeFile(destination + u'/' + taken.last(), "taken");
        }

        logger.archiveLogToDownloads(QStringLiteral("Vantrel"), FileArchiver(), destination);

        QStringList added = zipsIn(destination);
        for (const QString& name : taken) {
            QVERIFY(added.removeOne(name));
            QCOMPARE(readAll(destination + u'/' + name), QByteArray("taken"));
        }
        QCOMPARE(added.size(), 1);
        QVERIFY2(added[0].endsWith(QStringLiteral(" 2.zip")), qPrintable(added[0]));
        QVERIFY(readZip(destination + u'/' + added[0]).contains(QStringLiteral("client-a.log")));
    }

    void archivingIntoAnUnwritablePlaceIsLoggedNotThrown()
    {
        QTemporaryDir dir;
        Logger logger(dir.filePath(QStringLiteral("logs")), QStringLiteral("client-a"), ana);
        writeFile(dir.filePath(QStringLiteral("file")), "a file, not a folder");

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Could not archive the logs")));
        logger.archiveLogToDownloads(QStringLiteral("Vantrel"), FileArchiver(),
                                     dir.filePath(QStringLiteral("file/Downloads")));

        const QStringList lines = linesOf(logger.logFilePath());
        QVERIFY(!lines.isEmpty());
        QVERIFY(lines.last().contains(
            QStringLiteral("ERROR ana@edit-3 [Logger::archiveLogToDownloads] Could not archive the logs")));
    }

    void archiveLogReturnsTheArchiveAndThrowsItsFailure()
    {
        QTemporaryDir dir;
        Logger logger(dir.filePath(QStringLiteral("logs")), QStringLiteral("client-a"), ana);
        logger.event(QStringLiteral("hello"), QStringLiteral("Test::run"));
        const QString destination = dir.filePath(QStringLiteral("Downloads"));
        const QString path = logger.archiveLog(QStringLiteral("Vantrel"), FileArchiver(), destination);
        QCOMPARE(QFileInfo(path).absolutePath(), destination);
        QCOMPARE(zipsIn(destination), QStringList{QFileInfo(path).fileName()});
        QVERIFY(readZip(path).value(QStringLiteral("client-a.log")).contains("hello"));

        // An unusable destination is thrown, logged, and leaves nothing; no warning is printed.
        writeFile(dir.filePath(QStringLiteral("file")), "a file, not a folder");
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        QVERIFY_THROWS_EXCEPTION(ArchiveError, logger.archiveLog(QStringLiteral("Vantrel"), FileArchiver(),
                                                                 dir.filePath(QStringLiteral("file/Downloads"))));
        QVERIFY(linesOf(logger.logFilePath())
                    .last()
                    .contains(QStringLiteral("ERROR ana@edit-3 [Logger::archiveLog] Could not archive the logs")));

        // A failure of the archiver comes through with its own type, and its reserved name is freed.
        struct FailingArchiver final : Archiving {
            void archive(const QList<QString>&, const QString&) const override
            {
                throw ArchiveError(QStringLiteral("disk full"));
            }
        };
        try {
            logger.archiveLog(QStringLiteral("Vantrel"), FailingArchiver(), destination);
            QFAIL("the archiver's failure was not thrown");
        } catch (const ArchiveError& error) {
            QCOMPARE(error.localizedDescription(), QStringLiteral("disk full"));
        }
        QCOMPARE(zipsIn(destination).size(), 1);
    }

    void failedArchiveLeavesNothingBehind()
    {
        QTemporaryDir dir;
        const QString present = dir.filePath(QStringLiteral("present.log"));
        writeFile(present, QByteArray(100000, 'p'));
        const QString archivePath = dir.filePath(QStringLiteral("out.zip"));
        QVERIFY_THROWS_EXCEPTION(
            ArchiveError, FileArchiver().archive({present, dir.filePath(QStringLiteral("missing.log"))}, archivePath));
        QVERIFY(!QFile::exists(archivePath));

        // Nothing was written yet: a file already at that path is left alone.
        writeFile(archivePath, "earlier");
        QVERIFY_THROWS_EXCEPTION(ArchiveError, FileArchiver().archive({present, present}, archivePath));
        QCOMPARE(readAll(archivePath), QByteArray("earlier"));
    }
};

QTEST_GUILESS_MAIN(LoggerTest)
#include "logger_test.moc"
