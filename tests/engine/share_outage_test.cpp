// The share's server goes down and comes back while clients hold check-outs: a private SSH server
// exports one folder that two computers mount with sshfs (one caching, one with cache=no), both
// with "reconnect". What the share holds afterwards is read on the server's own disk.

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
#include <thread>
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
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_LOCK_CHILD)).isExecutable(), VANTREL_LOCK_CHILD);
        m_studio =
            std::make_unique<ShareStudio>(QStringLiteral(VANTREL_LOCK_CHILD), QStringList{QStringLiteral("reconnect")});
        QVERIFY2(m_studio->error().isEmpty(), qPrintable(m_studio->error()));
        QVERIFY2(m_studio->share(), "the server must be this test's own");
    }

    void cleanupTestCase() { m_studio.reset(); }

    // A client on each computer holds a check-out while the server is down: neither is told that
    // its lock was taken, both see the share as unreachable within seconds and as back right after
    // the server is, a check-in meanwhile fails as "can't be reached" (never as a lock taken) and
    // keeps the working copy, and the same check-in succeeds once the share is back.
    void serverDownAndBackWhileCheckedOut()
    {
        ShareStudio& studio = *m_studio;
        struct Holder {
            const Computer* on;
            Service document;
            std::unique_ptr<LockChild> child;
            QString workingCopy;
        };
        std::vector<Holder> holders;
        for (const Computer* on : {&studio.cached(), &studio.uncached()}) {
            const QString source =
                studio.scratch(QStringLiteral("source")) + QStringLiteral("/Cut-%1.txt").arg(on->name);
            writeFile(source, "first cut\n");
            Holder holder{on, studio.import(source), nullptr, {}};
            holder.child = studio.spawn(*on, ShareStudio::client(*on, QStringLiteral("ana")),
                                        QStringList{QStringLiteral("hold")}
                                            + document(holder.document, {QString::number(windowPollMs)}),
                                        ChildInput::pipe());
            holders.push_back(std::move(holder));
        }
        for (Holder& holder : holders) {
            QVERIFY(
                pumpUntil({holder.child.get()}, Clock::now() + 120s, [&] { return holder.child->result().present; }));
            QVERIFY2(holder.child->result().ok, qPrintable(holder.child->describe()));
            holder.workingCopy = holder.child->result().text;
            writeFile(holder.workingCopy, "second cut\n");
        }
        const auto children = [&] {
            Children all;
            for (const Holder& holder : holders)
                all.push_back(holder.child.get());
            return all;
        };

        const auto stopped = Clock::now();
        QVERIFY(studio.share()->stopServer());
        for (const Holder& holder : holders) {
            QVERIFY2(pumpUntil(children(), stopped + 2 * noticeBound,
                               [&] { return sawReachable(*holder.child, stopped, false).has_value(); }),
                     qPrintable(QStringLiteral("%1 never saw the share go").arg(holder.on->name)));
            const auto noticed = *sawReachable(*holder.child, stopped, false) - stopped;
            qInfo("%s: unreachable noticed %.2f s after the server stopped", qPrintable(holder.on->name),
                  seconds(noticed));
            QVERIFY2(noticed <= noticeBound, qPrintable(QString::number(seconds(noticed))));
        }
        // A few polls while the share is gone, then a check-in.
        pumpUntil(children(), Clock::now() + 3 * std::chrono::milliseconds(windowPollMs), [] { return false; });
        for (Holder& holder : holders) {
            holder.child->send("checkin");
            QVERIFY(pumpUntil(children(), Clock::now() + 120s, [&] { return holder.child->results().size() == 2; }));
            const Result refused = holder.child->result();
            QVERIFY2(!refused.ok && refused.kind == QLatin1String("unreachable"),
                     qPrintable(holder.on->name + u' ' + refused.kind + u' ' + refused.text));
            QVERIFY2(refused.text.contains(QStringLiteral("nothing was checked in")), qPrintable(refused.text));
            QCOMPARE(contentOf(holder.workingCopy), QByteArray("second cut\n"));
        }

        const auto restarted = Clock::now();
        QVERIFY2(studio.share()->restartServer(), qPrintable(studio.share()->error()));
        for (const Holder& holder : holders) {
            QVERIFY2(pumpUntil(children(), restarted + 2 * recoveryBound,
                               [&] { return sawReachable(*holder.child, restarted, true).has_value(); }),
                     qPrintable(QStringLiteral("%1 never saw the share come back").arg(holder.on->name)));
            const auto back = *sawReachable(*holder.child, restarted, true) - restarted;
            qInfo("%s: reachable again %.2f s after the server started", qPrintable(holder.on->name), seconds(back));
            QVERIFY2(back <= recoveryBound, qPrintable(QString::number(seconds(back))));
        }
        for (Holder& holder : holders) {
            QVERIFY2(lossesSeen(*holder.child).isEmpty(), qPrintable(lossesSeen(*holder.child).join(u'\n')));
            holder.child->send("checkin");
            QVERIFY(pumpUntil(children(), Clock::now() + 120s, [&] { return holder.child->results().size() == 3; }));
            QVERIFY2(holder.child->result().ok,
                     qPrintable(holder.child->result().kind + u' ' + holder.child->result().text));
            holder.child->send("quit");
        }
        finish(children());

        // Nothing went to the attic, and each check-in is there once.
        const auto reader = studio.reader();
        for (const Holder& holder : holders) {
            QVERIFY2(QDir(reader->rootPath() + QStringLiteral("/attic/") + holder.document->id().toString())
                         .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     "a working copy went to the attic");
            const auto state = reader->snapshot()->find(holder.document->id());
            QVERIFY(state);
            QCOMPARE(state->versions.size(), 2);
        }
    }

    // A server that stops answering (hung, or a network that drops everything) leaves requests
    // waiting rather than failing: the client still sees the share as unreachable within
    // seconds, nothing of its check-out changes, and all is back once the server answers.
    void serverThatHangsIsUnreachable()
    {
        ShareStudio& studio = *m_studio;
        const QString source = studio.scratch(QStringLiteral("source")) + QStringLiteral("/Reel.txt");
        writeFile(source, "reel\n");
        const Service reel = studio.import(source);
        const auto holder = studio.spawn(
            studio.cached(), ShareStudio::client(studio.cached(), QStringLiteral("cy")),
            QStringList{QStringLiteral("hold")} + document(reel, {QString::number(windowPollMs)}), ChildInput::pipe());
        QVERIFY(pumpUntil({holder.get()}, Clock::now() + 120s, [&] { return holder->result().present; }));
        QVERIFY2(holder->result().ok, qPrintable(holder->describe()));

        const auto frozen = Clock::now();
        studio.share()->freezeServer(true);
        const auto thaw = qScopeGuard([&] { studio.share()->freezeServer(false); });
        QVERIFY2(pumpUntil({holder.get()}, frozen + 2 * noticeBound,
                           [&] { return sawReachable(*holder, frozen, false).has_value(); }),
                 "the client never saw the share hang");
        const auto noticed = *sawReachable(*holder, frozen, false) - frozen;
        qInfo("unreachable noticed %.2f s after the server hung", seconds(noticed));
        QVERIFY2(noticed <= noticeBound, qPrintable(QString::number(seconds(noticed))));

        const auto thawed = Clock::now();
        studio.share()->freezeServer(false);
        QVERIFY2(pumpUntil({holder.get()}, thawed + 2 * recoveryBound,
                           [&] { return sawReachable(*holder, thawed, true).has_value(); }),
                 "the client never saw the share answer again");
        qInfo("reachable again %.2f s after the server answered",
              seconds(*sawReachable(*holder, thawed, true) - thawed));
        QVERIFY2(lossesSeen(*holder).isEmpty(), qPrintable(lossesSeen(*holder).join(u'\n')));
        holder->send("checkin");
        QVERIFY(pumpUntil({holder.get()}, Clock::now() + 120s, [&] { return holder->results().size() == 2; }));
        QVERIFY2(holder->result().ok, qPrintable(holder->result().kind + u' ' + holder->result().text));
        holder->send("quit");
        finish({holder.get()});
    }
};

QTEST_GUILESS_MAIN(ShareOutageTest)
#include "share_outage_test.moc"
