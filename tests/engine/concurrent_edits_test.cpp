// Many clients, each in a process of its own, editing one document in turns: every check-in
// that was reported done keeps its edit, also for clients whose view of the share lags.

#include "engine/storage/content_store.h"
#include "engine/storage/folder_tree.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>
#include <vector>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const QString childProgram = QStringLiteral(VANTREL_LOCK_CHILD);

QStringList childArguments(const TeamFixture& fixture, const QString& client, const QStringList& operation)
{
    const QString local = fixture.scratch(QStringLiteral("local-") + client);
    return QStringList{fixture.root(),
                       local,
                       QStringLiteral("CLIENT-") + client,
                       client,
                       client + QStringLiteral(" Editor"),
                       QStringLiteral("host-") + client}
           + operation;
}

// Where the child of `client` writes its standard error.
QString errorPath(const TeamFixture& fixture, const QString& client)
{
    return fixture.scratch(QStringLiteral("stderr")) + QStringLiteral("/%1.txt").arg(client);
}

QStringList linesOf(const QByteArray& output)
{
    return QString::fromUtf8(output).split(u'\n', Qt::SkipEmptyParts);
}

struct Editor {
    QString client;
    QString type; // "document" or "library"
    IdFor<VersionBundle> bundle;
    int lag = 0;                                // milliseconds
    QString loop = QStringLiteral("edit-loop"); // or "revert-loop"
};

struct Outcome {
    QHash<QString, QStringList> done; // "<client> <round>" by client
    int refused = 0;
    int reverted = 0;
};

// Runs every editor in a process of its own, all at once, for `rounds` rounds each.
Outcome runEditors(const TeamFixture& fixture, const QList<Editor>& editors, int rounds)
{
    std::vector<std::unique_ptr<ChildProcess>> processes;
    Children children;
    for (const Editor& editor : editors) {
        QStringList operation{editor.loop, editor.type, editor.bundle.toString(), QString::number(rounds)};
        if (editor.lag > 0)
            operation << QStringLiteral("--lag") << QString::number(editor.lag);
        auto process = std::make_unique<ChildProcess>();
        process->start(childProgram, childArguments(fixture, editor.client, operation), ChildInput::none(),
                       errorPath(fixture, editor.client));
        children.push_back(process.get());
        processes.push_back(std::move(process));
    }
    finish(children, std::chrono::minutes(4));
    Outcome outcome;
    for (qsizetype i = 0; i < editors.size(); ++i) {
        const ChildProcess& process = *processes[size_t(i)];
        if (!process.exitedCleanly())
            qWarning("editor %s did not finish cleanly: %s", qPrintable(editors[i].client),
                     qPrintable(process.describe()));
        for (const PrintedLine& printed : process.lines()) {
            const QString line = QString::fromUtf8(printed.text);
            if (line.startsWith(QLatin1String("done ")))
                outcome.done[editors[i].client] << line.mid(5);
            outcome.refused += line.startsWith(QLatin1String("refused ")) ? 1 : 0;
            outcome.reverted += line.startsWith(QLatin1String("reverted ")) ? 1 : 0;
        }
    }
    return outcome;
}

QStringList exportedLines(const Service& service, const QString& folder, const QString& relative = {})
{
    const QString exported = syncWait(service->exportVersion(std::nullopt, folder, defaultS3Factory()));
    QFile file(relative.isEmpty() ? exported : exported + QLatin1Char('/') + relative);
    file.open(QIODevice::ReadOnly);
    return linesOf(file.readAll());
}

} // namespace

class ConcurrentEditsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyReportedCheckInKeepsItsEdit()
    {
        TeamFixture fixture;
        const auto setup = fixture.client(QStringLiteral("setup"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Log.txt");
        writeFile(source, "base\n");
        const auto log = importInto(setup, source);

        constexpr int rounds = 5;
        QList<Editor> editors;
        for (int i = 0; i < 8; ++i) // every third with a view of the share that shows records late
            editors.append({QStringLiteral("c%1").arg(i), QStringLiteral("document"), log->id(), i % 3 == 0 ? 400 : 0});
        const Outcome outcome = runEditors(fixture, editors, rounds);

        QStringList done;
        for (const auto& editor : std::as_const(editors)) {
            QCOMPARE(outcome.done.value(editor.client).size(), rounds);
            done += outcome.done.value(editor.client);
        }
        // Every check-in built on the one before: none had to be refused, none was lost.
        QCOMPARE(outcome.refused, 0);
        setup->poll();
        const QStringList kept = exportedLines(log, fixture.scratch(QStringLiteral("out")));
        QCOMPARE(kept.first(), QStringLiteral("base"));
        QCOMPARE(kept.size(), done.size() + 1);
        for (const QString& edit : std::as_const(done))
            QVERIFY2(kept.count(edit) == 1, qPrintable(edit));
        QCOMPARE(log->versionIDs().size(), done.size() + 1);
    }

    // Reverts made while others check the document out and in, each client in a process of its
    // own: every check-in builds on the version just before it in the history, a revert made
    // meanwhile included, so that no check-in replaces a revert it did not see.
    void checkInsBuildOnConcurrentReverts()
    {
        TeamFixture fixture;
        const auto setup = fixture.client(QStringLiteral("setup"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Log.txt");
        writeFile(source, "base\n");
        const auto log = importInto(setup, source);

        constexpr int rounds = 20;
        QList<Editor> editors;
        for (int i = 0; i < 3; ++i)
            editors.append({QStringLiteral("c%1").arg(i), QStringLiteral("document"), log->id(), i == 2 ? 400 : 0});
        editors.append({QStringLiteral("r0"), QStringLiteral("document"), log->id(), 0, QStringLiteral("revert-loop")});
        const Outcome outcome = runEditors(fixture, editors, rounds);
        QCOMPARE(outcome.reverted, rounds);

        setup->poll();
        const auto state = setup->snapshot()->find(log->id());
        QHash<IdFor<Versions>, QByteArray> contents;
        QByteArray previous;
        int checkedIn = 0;
        for (const auto& version : state->versions) {
            const Manifest manifest = readTree(setup->contents(), version.manifest);
            const QByteArray content = setup->contents().readBytes(manifest.entries.first().hash);
            contents.insert(version.id, content);
            if (version.revertedTo) {
                QCOMPARE(content, contents.value(*version.revertedTo));
            } else if (!previous.isEmpty()) {
                QVERIFY2(content.startsWith(previous) && linesOf(content.mid(previous.size())).size() == 1,
                         qPrintable(QStringLiteral("a check-in not built on the version before it: ")
                                    + QString::fromUtf8(content)));
                ++checkedIn;
            }
            previous = content;
        }
        int done = 0;
        for (const auto& edits : std::as_const(outcome.done))
            done += int(edits.size());
        QCOMPARE(checkedIn, done);
    }

    // Two libraries share an event: their check-outs exclude each other, and the shared event
    // ends up with the edits of both, each library's own event with its own.
    void overlappingLibrariesKeepEveryEdit()
    {
        TeamFixture fixture;
        const auto setup = fixture.client(QStringLiteral("setup"));
        const QString first = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/First.videolibrary");
        const QString second = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Second.videolibrary");
        for (const QString& event :
             {first + QStringLiteral("/Own.videoevent"), first + QStringLiteral("/Shared.videoevent"),
              second + QStringLiteral("/Other.videoevent")})
            writeFile(event + QStringLiteral("/Log.txt"), "base\n");
        const auto firstLibrary = importInto(setup, first);
        const auto secondLibrary = importInto(setup, second);
        const auto byName = [&](const Service& library, const QString& name) {
            for (const auto& child : setup->snapshot()->find(library->id())->children) {
                if (setup->snapshot()->find(child)->name == name)
                    return openService(setup, VersioningServiceType::event, child);
            }
            return Service();
        };
        const auto shared = byName(firstLibrary, QStringLiteral("Shared"));
        syncWait(secondLibrary->addNestedVersionBundle(shared, QString(), defaultS3Factory()));

        constexpr int rounds = 4;
        QList<Editor> editors;
        for (int i = 0; i < 6; ++i)
            editors.append({QStringLiteral("e%1").arg(i), QStringLiteral("library"),
                            i % 2 == 0 ? firstLibrary->id() : secondLibrary->id(), i == 1 ? 400 : 0});
        const Outcome outcome = runEditors(fixture, editors, rounds);
        QCOMPARE(outcome.refused, 0);

        setup->poll();
        QStringList all;
        QStringList ofFirst;
        QStringList ofSecond;
        for (qsizetype i = 0; i < editors.size(); ++i) {
            const QStringList done = outcome.done.value(editors[i].client);
            QCOMPARE(done.size(), rounds);
            all += done;
            (i % 2 == 0 ? ofFirst : ofSecond) += done;
        }
        const auto expectExactly = [&](const Service& event, const QStringList& edits) {
            const QStringList kept = exportedLines(event, fixture.scratch(QStringLiteral("out-") + event->name()),
                                                   QStringLiteral("Log.txt"));
            QCOMPARE(kept.size(), edits.size() + 1);
            for (const QString& edit : edits)
                QVERIFY2(kept.count(edit) == 1, qPrintable(event->name() + u' ' + edit));
        };
        expectExactly(shared, all);
        expectExactly(byName(firstLibrary, QStringLiteral("Own")), ofFirst);
        expectExactly(byName(secondLibrary, QStringLiteral("Other")), ofSecond);
    }

    // A short process that exports and ends: it must end cleanly every time, its worker threads
    // finished before the libraries it used are torn down.
    void shortProcessesEndCleanly()
    {
        TeamFixture fixture;
        const auto setup = fixture.client(QStringLiteral("setup"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Reel.bin");
        writeFile(source, QByteArray(256 * 1024, 'r'));
        const auto reel = importInto(setup, source);
        for (int run = 0; run < 40; ++run) {
            ChildProcess process;
            process.start(childProgram,
                          childArguments(fixture, QStringLiteral("x"),
                                         {QStringLiteral("export"), QStringLiteral("document"), reel->id().toString(),
                                          fixture.scratch(QStringLiteral("e%1").arg(run))}),
                          ChildInput::none(), errorPath(fixture, QStringLiteral("x")));
            finish({&process});
            QVERIFY2(process.exitedCleanly(), qPrintable(process.describe()));
            QVERIFY(process.firstLine("result ok"));
        }
    }
};

QTEST_GUILESS_MAIN(ConcurrentEditsTest)
#include "concurrent_edits_test.moc"
