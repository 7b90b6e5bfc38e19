// Files replaced in place and read by name (lock records, release notes, heads) are read whole
// whatever size a share remembers, older clients' unpadded files included; new clients are found
// through the register of clients, whatever an entry of it holds.

#include "engine/journal/client_register.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/journal/journal.h"
#include "engine/locks/lock_table.h"
#include "engine/storage/storage_error.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"

#include <QDir>
#include <QJsonDocument>
#include <QTest>

#include <chrono>
#include <thread>

using namespace vantrel;
using namespace vantrel::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

Service importNote(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team)
{
    const QString source = fixture.scratch(u"s"_s) + u"/Note.txt"_s;
    writeFile(source, "note\n");
    return importInto(team, source);
}

QString lockPath(const TeamFixture& fixture, const Service& service)
{
    return fixture.root() + u"/locks/"_s + service->id().toString() + u".lock"_s;
}

} // namespace

class ReplacedFilesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What is written has one length per kind, whatever the names in it, and reads as older
    // clients read it (JSON with whitespace after it, a head trimmed); what older clients wrote,
    // unpadded, reads as before.
    void fixedLengthFilesReadOldAndNew()
    {
        LockRecord record{u"CLIENT-A"_s,
                          u"ana"_s,
                          QString(5000, QChar(0x01)),
                          u"host"_s,
                          IdFor<VersionBundle>::make(),
                          QDateTime::currentDateTimeUtc(),
                          true,
                          QString(3000, u'\u00e9'),
                          QString(9000, QChar(0xd83c))};
        const QByteArray bytes = record.toJson();
        QCOMPARE(bytes.size(), fixed_length::lockRecord);
        QVERIFY(QJsonDocument::fromJson(bytes).isObject());
        const LockRecord read = LockRecord::fromJson(bytes);
        QCOMPARE(read.clientId, record.clientId);
        QVERIFY(!read.fullName.isEmpty() && record.fullName.startsWith(read.fullName));
        const QByteArray note = ReleaseNote{u"CLIENT-A"_s, 42}.toJson();
        QCOMPARE(note.size(), fixed_length::releaseNote);
        QCOMPARE(ReleaseNote::fromJson(note).seq, 42);
        QCOMPARE(fixed_length::headBytes(7).size(), fixed_length::journalHead);
        QCOMPARE(fixed_length::headBytes(999'999'999'999).trimmed().toLongLong(), 999'999'999'999);

        TeamFixture fixture;
        const auto ana = fixture.client(u"ana"_s), ben = fixture.client(u"ben"_s);
        const Service note1 = importNote(fixture, ana);
        const QString lock = lockPath(fixture, note1);
        QDir().mkpath(fixture.root() + u"/locks"_s);
        // An older client's lock record and release note: compact JSON, unpadded.
        writeFile(lock, R"({"client":"CLIENT-OLD","user":"old","fullName":"Old Timer","host":"h",)"
                        R"("initiator":")"
                            + note1->id().toString().toUtf8() + R"(","date":"","forced":false})");
        const auto holder = ben->locks().readNow(note1->id());
        QVERIFY(holder && holder->clientId == u"CLIENT-OLD"_s && holder->fullName == u"Old Timer"_s);
        writeFile(lock.chopped(5) + u".released"_s, R"({"client":"CLIENT-OLD","seq":3})");
        QCOMPARE(ben->locks().releaseNote(note1->id())->seq, 3);
    }

    // A record read while it is being replaced, cut to the size the share remembers, is read
    // again rather than taken for a lock nobody can name.
    void aClippedLockRecordIsReadAgain()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(u"ana"_s), ben = fixture.client(u"ben"_s);
        const Service note = importNote(fixture, ana);
        checkOutItem(note);
        const QString lock = lockPath(fixture, note);
        const QByteArray whole = contentOf(lock);
        writeFile(lock, whole.left(12));
        std::thread completing([&] {
            std::this_thread::sleep_for(60ms);
            writeFile(lock, whole);
        });
        const auto holder = ben->locks().readNow(note->id());
        completing.join();
        QVERIFY(holder);
        QCOMPARE(holder->userName, u"ana"_s);
    }

    // A head read short (clipped, or an older client's that lags) does not end a fresh client's
    // history early, however far its listing lags: the records after it are opened by name.
    void aShortHeadDoesNotCutTheHistory()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(u"ana"_s);
        for (int i = 0; i < 11; ++i)
            importNote(fixture, ana);
        const QString journal = fixture.root() + u"/journal"_s;
        QStringList problems;
        const std::size_t all = Journal(journal, u"READER"_s).readAll(problems).size();
        writeFile(journal + u'/' + ana->clientId() + u"/head"_s, "1");
        Journal fresh(journal, u"READER"_s);
        fresh.setListingLagForTesting(1h);
        QCOMPARE(fresh.readAll(problems).size(), all);
        // At a poll too: the head, short and behind what was read, takes nobody back.
        importNote(fixture, ana);
        writeFile(journal + u'/' + ana->clientId() + u"/head"_s, "1");
        QCOMPARE(fresh.readNew(problems).size(), all / 11);
        QVERIFY(fresh.readNew(problems).empty());
        QVERIFY(problems.isEmpty());
    }

    // Anybody can write the register: entries that are not a plain file naming a client are
    // passed over, a duplicate is harmless, and a new client enters after them.
    void theRegisterSurvivesCraftedEntries()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(u"ana"_s);
        importNote(fixture, ana);
        const QString journal = fixture.root() + u"/journal"_s;
        const QString folder = journal + u'/' + ClientRegister::folderName;
        QCOMPARE(ClientRegister(journal).readNew(), QStringList{ana->clientId()});
        const QString outside = fixture.scratch(u"outside"_s) + u"/id"_s;
        writeFile(outside, "CLIENT-OUTSIDE\n");
        writeFile(folder + u"/2"_s, "../../escape\n");
        plantLink(folder + u"/3"_s, outside);
        writeFile(folder + u"/4"_s, QByteArray(1 << 20, 'x') + '\n');
        QDir().mkpath(folder + u"/5"_s);
        writeFile(folder + u"/6"_s, ana->clientId().toUtf8() + '\n');
        writeFile(folder + u"/7"_s, "no line end");
        setAge(folder + u"/7"_s, 600);
        writeFile(folder + u"/8"_s, "\xff\xfe\n");

        const auto ben = fixture.client(u"ben"_s);
        importNote(fixture, ben);
        QCOMPARE(contentOf(folder + u"/9"_s), ben->clientId().toUtf8() + '\n');
        QCOMPARE(ClientRegister(journal).readNew(), (QStringList{ana->clientId(), ana->clientId(), ben->clientId()}));

        // A register that is a link is neither read nor written through.
        QDir(folder).removeRecursively();
        const QString elsewhere = fixture.scratch(u"elsewhere"_s);
        writeFile(elsewhere + u"/1"_s, "CLIENT-ELSEWHERE\n");
        plantLink(folder, elsewhere);
        QVERIFY(ClientRegister(journal).readNew().isEmpty());
        QVERIFY_THROWS_EXCEPTION(StorageError, ClientRegister(journal).enter(u"CLIENT-NEW"_s));
        QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList{u"1"_s});
    }
};

QTEST_GUILESS_MAIN(ReplacedFilesTest)
#include "replaced_files_test.moc"
