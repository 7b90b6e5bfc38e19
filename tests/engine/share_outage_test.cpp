// The share's server goes down, or hangs, and comes back while clients hold check-outs: a private
// SSH server exports one folder that two computers mount with sshfs (one caching, one with
// cache=no), both with "reconnect". What the share holds afterwards is read on the server's own
// disk.

#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"
#include "support/sshfs_team.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <vector>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Generous: how fast it goes is measured and reported, not timed here.
constexpr auto noticeBound = 10s;
constexpr auto recoveryBound = 10s;
// How often an idle window polls.
constexpr int windowPollMs = 2000;

QStringList document(const Service& service, const QStringList& rest = {})
{
    return QStringList{QStringLiteral("document"), service->id().toString()} + rest;
}

// When a holding child printed "reachable <time> <0|1>" with `reachable`, at `since` or later.
std::optional<Clock::time_point> sawReachable(const LockChild& child, Clock::time_point since, bool reachable)
{
    for (const PrintedLine& line : child.lines()) {
        const QList<QByteArray> fields = line.text.split(' ');
        if (fields.size() == 3 && fields[0] == "reachable" && fields[2] == (reachable ? "1" : "0")) {
            const auto at = steadyFromNanoseconds(fields[1].toLongLong());
            if (at >= since)
                return at;
        }
    }
    return std::nullopt;
}

// The "change" lines that say the check-out was taken away (forced, or no longer checked out).
QStringList lossesSeen(const LockChild& child)
{
    QStringList losses;
    for (const PrintedLine& line : child.lines()) {
        const QList<QByteArray> fields = line.text.split(' ');
        if (fields.size() >= 4 && fields[0] == "change" && (fields[2] != "0" || fields[3] != "1"))
            losses << QString::fromUtf8(line.text);
    }
    return losses;
}

double seconds(Clock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

} // namespace

class ShareOutageTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ShareStudio> m_studio;

private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN); // a child that died must not take the test with it
        if (const QString missing = SshfsShare::missing(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no network share can be made here; missing: ") + missing));
        if (!qEnvironmentVariableIsEmpty("VANTREL_SHARE_MOUNTS"))
            QSKIP("the share's server must be this test's own, to stop it");
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_LOCK_CHILD)).isExecutable(), VANTREL_LOCK_CHILD);
        m_studio =
            std::make_unique<ShareStudio>(QStringLiteral(VANTREL_LOCK_CHILD), StudioShareMaker{},
                                          QStringList{QStringLiteral("reconnect")});
        QVERIFY2(m_studio->error().isEmpty(), qPrintable(m_studio->error()));
    }

    void cleanupTestCase() { m_studio.reset(); }

    // A client on each computer holds a check-out while the server goes down, and later while it
    // hangs (requests wait instead of failing): neither is told that its lock was taken, both see
    // the share as unreachable within seconds and as back right after the server is, a check-in
    // meanwhile fails as "can't be reached" (never as a lock taken) and keeps the working copy,
    // and the same check-in succeeds once the share is back. Nothing goes to the attic.
    void serverDownOrHungWhileCheckedOut()
    {
        ShareStudio& studio = *m_studio;
        std::vector<Service> documents;
        std::vector<std::unique_ptr<LockChild>> holders;
        Children children;
        for (const Computer* on : {&studio.cached(), &studio.uncached()}) {
            const QString source = studio.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.txt");
            writeFile(source, "first cut\n");
            documents.push_back(studio.import(source));
            holders.push_back(studio.spawn(*on, ShareStudio::client(*on, QStringLiteral("ana")),
                                           QStringList{QStringLiteral("hold")}
                                               + document(documents.back(), {QString::number(windowPollMs)}),
                                           ChildInput::pipe()));
            children.push_back(holders.back().get());
        }
        const auto lastResults = [&](int count) {
            return pumpUntil(children, Clock::now() + 120s, [&] {
                return std::all_of(holders.begin(), holders.end(),
                                   [&](const auto& holder) { return holder->results().size() == count; });
            });
        };
        QVERIFY(lastResults(1));
        for (const auto& holder : holders) {
            QVERIFY2(holder->result().ok, qPrintable(holder->describe()));
            writeFile(holder->result().text, "second cut\n");
        }
        // Runs `change` and waits until every holder has seen the reachability it brings.
        const auto seenBy = [&](const char* what, bool reachable, const std::function<void()>& change) {
            const auto since = Clock::now();
            change();
            const auto bound = reachable ? recoveryBound : noticeBound;
            const bool seen = pumpUntil(children, since + 2 * bound, [&] {
                return std::all_of(holders.begin(), holders.end(), [&](const auto& holder) {
                    return sawReachable(*holder, since, reachable).has_value();
                });
            });
            for (const auto& holder : holders) {
                const auto at = sawReachable(*holder, since, reachable);
                qInfo("%s: seen after %.2f s", what, at ? seconds(*at - since) : -1.0);
                if (!at || *at - since > bound)
                    return false;
            }
            return seen;
        };

        QVERIFY(seenBy("server stopped", false, [&] { QVERIFY(studio.share()->stopServer()); }));
        // A few polls while the share is gone, then a check-in.
        pumpUntil(children, Clock::now() + 3 * std::chrono::milliseconds(windowPollMs), [] { return false; });
        for (const auto& holder : holders)
            holder->send("checkin");
        QVERIFY(lastResults(2));
        for (const auto& holder : holders) {
            const Result refused = holder->result();
            QVERIFY2(refused.kind == QLatin1String("unreachable") && refused.text.contains("nothing was checked in"),
                     qPrintable(refused.kind + u' ' + refused.text));
            QCOMPARE(contentOf(holder->results().first().text), QByteArray("second cut\n"));
        }
        QVERIFY(seenBy("server started", true, [&] { QVERIFY(studio.share()->restartServer()); }));

        const auto thaw = qScopeGuard([&] { studio.share()->freezeServer(false); });
        QVERIFY(seenBy("server hung", false, [&] { studio.share()->freezeServer(true); }));
        QVERIFY(seenBy("server answering", true, [&] { studio.share()->freezeServer(false); }));

        for (const auto& holder : holders) {
            QVERIFY2(lossesSeen(*holder).isEmpty(), qPrintable(lossesSeen(*holder).join(u'\n')));
            holder->send("checkin");
        }
        QVERIFY(lastResults(3));
        for (const auto& holder : holders) {
            QVERIFY2(holder->result().ok, qPrintable(holder->result().kind + u' ' + holder->result().text));
            holder->send("quit");
        }
        finish(children);

        const auto reader = studio.reader();
        for (const Service& cut : documents) {
            QVERIFY2(QDir(reader->rootPath() + QStringLiteral("/attic/") + cut->id().toString())
                         .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     "a working copy went to the attic");
            QCOMPARE(reader->snapshot()->find(cut->id())->versions.size(), 2);
        }
    }

    // A check-in started as the server hangs is not waited for until it answers again: it ends
    // while the server is still stopped, saying that nothing was checked in, and the working copy
    // stays checked out. Once the server answers, the stuck check-in publishes nothing, and a new
    // one, refused at once until the stuck one is over, lands exactly once.
    void checkInWhileServerHangs()
    {
        ShareStudio& studio = *m_studio;
        const QString source = studio.scratch(QStringLiteral("source")) + QStringLiteral("/Hung.txt");
        writeFile(source, "first cut\n");
        const Service cut = studio.import(source);
        const auto holder = studio.spawn(studio.cached(), ShareStudio::client(studio.cached(), QStringLiteral("hung")),
                                         QStringList{QStringLiteral("hold")} + document(cut, {QString::number(windowPollMs)}),
                                         ChildInput::pipe());
        const Children children{holder.get()};
        const auto results = [&](int count, Clock::time_point deadline) {
            return pumpUntil(children, deadline, [&] { return holder->results().size() >= count; });
        };
        QVERIFY(results(1, Clock::now() + 120s));
        QVERIFY2(holder->result().ok, qPrintable(holder->describe()));
        writeFile(holder->result().text, "second cut\n");

        const auto thaw = qScopeGuard([&] { studio.share()->freezeServer(false); });
        const auto stopped = Clock::now();
        studio.share()->freezeServer(true);
        holder->send("checkin");
        const auto started = Clock::now();
        // Stopped for up to a minute: long enough to tell a bounded check-in from one that waits.
        const bool endedWhileStopped = results(2, stopped + 60s);
        studio.share()->freezeServer(false);
        const auto thawed = Clock::now();
        if (!endedWhileStopped)
            results(2, thawed + 120s);
        const Result refused = holder->result();
        qInfo("check-in with the server stopped: ended %.2f s after it stopped, %.2f s after the check-in began%s",
              seconds(refused.at - stopped), seconds(refused.at - started),
              endedWhileStopped ? "" : qPrintable(QStringLiteral(", %1 s after it answered again")
                                                      .arg(seconds(refused.at - thawed), 0, 'f', 2)));
        QVERIFY2(endedWhileStopped, "the check-in waited for the share");
        QVERIFY2(refused.kind == QLatin1String("unreachable") && refused.text.contains("nothing was checked in"),
                 qPrintable(refused.kind + u' ' + refused.text));

        // Refused at once while the stuck check-in is still being finished; then it lands.
        int tries = 0;
        for (;;) {
            holder->send("checkin");
            QVERIFY(results(3 + tries, Clock::now() + 120s));
            if (holder->result().ok || holder->result().kind != QLatin1String("unreachable") || ++tries > 240)
                break;
            pumpUntil(children, Clock::now() + 250ms, [] { return false; });
        }
        qInfo("check-in tried again once the server answered: refused %d times before it landed", tries);
        QVERIFY2(holder->result().ok, qPrintable(holder->result().kind + u' ' + holder->result().text));
        holder->send("quit");
        finish(children);
        QCOMPARE(studio.reader()->snapshot()->find(cut->id())->versions.size(), 2);
    }
};

QTEST_GUILESS_MAIN(ShareOutageTest)
#include "share_outage_test.moc"
