// The real program, started as separate processes on the offscreen platform with a settings
// folder of its own: it opens a team bundle given on the command line, a later start hands its
// links to the running one and ends (a "select" link naming no item clears the selection),
// quitting by link or by signal asks nothing when nothing is checked out, and the next start
// opens the last team bundle again.

#include "engine/id_for.h"
#include "model/collection.h"
#include "model/support/item_test_support.h"

#include <QProcess>
#include <QTest>

#include <csignal>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

constexpr int startTimeoutMs = 60000;

class Program {
public:
    explicit Program(const QString& home)
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString folder = home + QLatin1Char('/') + QLatin1String(name);
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            m_environment.insert(QLatin1String(name), folder);
        }
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_settings = home + QStringLiteral("/XDG_CONFIG_HOME/Vantrel/Vantrel.ini");
        m_runtime = home + QStringLiteral("/XDG_RUNTIME_DIR");
    }

    // Starts the program that is to become the running instance, and waits until it listens for
    // later starts (which would otherwise become the running instance themselves).
    std::unique_ptr<QProcess> startInstance(const QStringList& arguments) const
    {
        auto process = start(arguments);
        const auto listening = [this] {
            return !QDir(m_runtime + QStringLiteral("/vantrel"))
                        .entryList({QStringLiteral("*.instance")}, QDir::System)
                        .isEmpty();
        };
        for (int round = 0; round < 600 && !listening(); ++round)
            QTest::qWait(100);
        return process;
    }

    // Starts the program; the caller keeps the process.
    std::unique_ptr<QProcess> start(const QStringList& arguments) const
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_environment);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(QStringLiteral(VANTREL_PROGRAM), arguments);
        process->waitForStarted();
        return process;
    }

    // Runs a later start to its end; its exit status, or -1 when it did not end.
    int run(const QStringList& arguments) const
    {
        const auto process = start(arguments);
        if (!process->waitForFinished(startTimeoutMs))
            return -1;
        return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    }

    QString settings() const
    {
        QFile file(m_settings);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Hands a "select" link to the running instance until its settings show the selection: the
    // link is ignored while the team bundle still loads.
    bool selects(const QString& collectionId) const
    {
        const QString link = QStringLiteral("vantrel://select/") + collectionId;
        for (int round = 0; round < 120; ++round) {
            if (run({link}) != 0)
                return false;
            if (settings().contains(collectionId, Qt::CaseInsensitive))
                return true;
            QTest::qWait(500);
        }
        return false;
    }

private:
    QProcessEnvironment m_environment;
    QString m_settings;
    QString m_runtime;
};

QString upperId(const std::shared_ptr<Collection>& collection)
{
    return uuidString(collection->id().uuid()).toUpper();
}

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linksReachTheRunningInstanceAndTheNextStartReopens()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("Ana"));
        const auto reels = newCollection(ana, QStringLiteral("Reels"));
        const auto archive = newCollection(ana, QStringLiteral("Archive"));
        QTemporaryDir home;
        const Program program(home.path());

        // A team bundle given on the command line opens; a later start's link selects in it.
        const auto first = program.startInstance({fixture.root()});
        QVERIFY(program.selects(upperId(reels)));
        QVERIFY(program.settings().contains(QFileInfo(fixture.root()).fileName()));
        // A link that names no item clears the selection.
        QCOMPARE(program.run({QStringLiteral("vantrel://select/not-a-uuid")}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!program.settings().contains(upperId(reels), Qt::CaseInsensitive), startTimeoutMs);
        // The quit link quits the running instance, which asks nothing: nothing is checked out.
        QCOMPARE(program.run({QStringLiteral("vantrel://quit")}), 0);
        const bool ended = first->waitForFinished(startTimeoutMs);
        const QByteArray output = first->readAll();
        QVERIFY2(ended, output.constData());
        QCOMPARE(first->exitCode(), 0);
        QVERIFY(output.contains("app should terminate"));

        // The next start opens the same team bundle by itself; the desktop's request to end quits it.
        const auto second = program.startInstance({});
        QVERIFY(program.selects(upperId(archive)));
        ::kill(static_cast<pid_t>(second->processId()), SIGTERM);
        QVERIFY(second->waitForFinished(startTimeoutMs));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(ApplicationTest)
#include "application_test.moc"
