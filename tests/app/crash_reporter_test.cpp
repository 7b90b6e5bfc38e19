// Crash reporting of the application: an alpha build's "Test crash" leaves a report; the next start
// asks with the consent alert once the event loop runs, sends on "Send" and deletes the report on
// any other answer; where the DSN comes from.

#include "app/crash_reporter.h"
#include "app/vantrel_model.h"
#include "desktop/system_services.h"
#include "envelope_server.h"
#include "model/key_value_storage.h"
#include "model/strings.h"
#include "support/child_process.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// An update service with no feed: it never fetches anything.
std::shared_ptr<AppUpdater> noUpdates()
{
    return std::make_shared<AppUpdater>(
        std::make_unique<updates::UpdateController>(updates::UpdateController::Settings{}));
}

const AppInfo alpha(QStringLiteral("Vantrel"), QIcon(), QStringLiteral("1.0α"), QStringLiteral("12"),
                    QStringLiteral("app.vantrel"), QStringLiteral("vantrel"));

QMessageBox* visibleAlert()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

QAbstractButton* button(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* each : box->buttons())
        if (each->text() == text)
            return each;
    return nullptr;
}

} // namespace

class CrashReporterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        QVERIFY(m_home.isValid());
        m_scratch = std::make_unique<QTemporaryDir>(m_home.filePath(QStringLiteral("scratchXXXXXX")));
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", m_scratch->filePath(QStringLiteral("share")).toUtf8());
        qputenv("VANTREL_USER_NAME", "ana");
        qputenv(CrashReporter::dsnVariable, m_server.dsn().toUtf8());
    }

    void cleanup()
    {
        qunsetenv(CrashReporter::dsnVariable);
        delete visibleAlert();
    }

    // The test crash of an alpha build, then a start whose user chooses "Send".
    void testCrashIsSentAtTheNextStartWithConsent()
    {
        const QString report = testCrash();
        QVERIFY(QFile::exists(report));

        const auto model = startApplication();
        QVERIFY(model->crashReporter()->client().isStarted());
        QVERIFY(!visibleAlert()); // not while the application is being built
        QTRY_VERIFY(visibleAlert());
        QMessageBox* alert = visibleAlert();
        QCOMPARE(alert->text(), Strings::unexpectedErrorTitle());
        QCOMPARE(alert->informativeText(), Strings::crashReportMessage());
        QCOMPARE(alert->windowModality(), Qt::ApplicationModal);
        QVERIFY(button(alert, Strings::dontSendButtonTitle()));
        QVERIFY(button(alert, Strings::sendButtonTitle()));
        const qsizetype requests = m_server.requests().size();
        button(alert, Strings::sendButtonTitle())->click();

        QTRY_COMPARE(m_server.requests().size(), requests + 1);
        QTRY_VERIFY(!QFile::exists(report));
        const ReceivedRequest& request = m_server.requests().last();
        QCOMPARE(request.headers.value("x-sentry-auth"),
                 QByteArray("Sentry sentry_version=7, sentry_key=0123abcd, sentry_client=vantrel/1.0%CE%B1"));
        const QJsonObject event = parseEnvelope(request.body).event;
        const QJsonObject exception = event["exception"]["values"][0].toObject();
        QCOMPARE(exception.value("type").toString(), QStringLiteral("qFatal"));
        QCOMPARE(exception.value("value").toString(), QStringLiteral("Developer test crash by ana"));
        QCOMPARE(event.value("release").toString(), QStringLiteral("Vantrel@1.0α+12"));
        QCOMPARE(event.value("environment").toString(), QStringLiteral("alpha"));
        QVERIFY(!exception["stacktrace"]["frames"].toArray().isEmpty());
        QVERIFY(!visibleAlert());
    }

    // "Don't Send", Escape and closing the alert all decline: the report goes, nothing is sent.
    void everyOtherAnswerDeclines()
    {
        const QStringList reports{testCrash(), testCrash(), testCrash()};
        const qsizetype requests = m_server.requests().size();
        const auto model = startApplication();
        const std::function<void(QMessageBox*)> answers[] = {
            [](QMessageBox* box) { button(box, Strings::dontSendButtonTitle())->click(); },
            [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); },
            [](QMessageBox* box) { box->close(); },
        };
        QVERIFY(!reports.contains(QString()));
        const auto remaining = [&reports] {
            return std::count_if(reports.cbegin(), reports.cend(),
                                 [](const QString& path) { return QFile::exists(path); });
        };
        for (qsizetype i = 0; i < reports.size(); ++i) {
            QTRY_VERIFY(visibleAlert());
            answers[i](visibleAlert());
            QTRY_COMPARE(remaining(), reports.size() - i - 1);
        }
        QVERIFY(!visibleAlert());
        QCOMPARE(m_server.requests().size(), requests);
    }

    void theDsnComesFromTheEnvironmentElseTheSettings()
    {
        const QString folder = m_scratch->filePath(QStringLiteral("reports"));
        auto storage = std::make_shared<KeyValueStoragePreview>();
        const auto started = [&] {
            CrashReporter reporter(alpha, storage, folder);
            reporter.start();
            return reporter.client().isStarted();
        };
        storage->set(QStringLiteral("https://host/no-key"), CrashReporter::dsnKey);
        QVERIFY(started()); // the environment's

        qunsetenv(CrashReporter::dsnVariable);
        QVERIFY(!started());
        storage->set(m_server.dsn(), CrashReporter::dsnKey);
        QVERIFY(started());

        storage->removeObject(CrashReporter::dsnKey);
        const qsizetype prepared = QDir(folder).entryList(QDir::Files).size();
        QVERIFY(!started());
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), prepared); // no report file prepared
        QVERIFY(!VantrelModel(alpha,
                              std::make_shared<AppUpdater>(
                                  std::make_unique<updates::UpdateController>(updates::UpdateController::Settings{})),
                              storage, files(), std::make_shared<RecordingWorkspace>(), {})
                     .crashReporter()
                     ->client()
                     .isStarted());
    }

private:
    // Runs an alpha build that chooses "Test crash"; the report it left.
    QString testCrash()
    {
        const QDir folder(CrashReporter::defaultFolder());
        const QStringList before = folder.entryList({QStringLiteral("*.crash")}, QDir::Files);
        ChildProcess child;
        const QString errors = m_scratch->filePath(QStringLiteral("child.err"));
        if (!child.start(QStringLiteral(VANTREL_CRASH_REPORT_CHILD), {m_scratch->path()}, ChildInput::none(), errors))
            return {};
        const int status = child.reap();
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGABRT) {
            qWarning("%s", qPrintable(child.describe()));
            return {};
        }
        for (const QString& name : folder.entryList({QStringLiteral("*.crash")}, QDir::Files))
            if (!before.contains(name))
                return folder.filePath(name);
        return {};
    }

    std::shared_ptr<FileManaging> files() const
    {
        const QString root = m_scratch->path();
        return std::make_shared<SystemFileManager>(root + QStringLiteral("/data"), root + QStringLiteral("/cache"),
                                                   root + QStringLiteral("/downloads"));
    }

    std::unique_ptr<VantrelModel> startApplication()
    {
        return std::make_unique<VantrelModel>(alpha, noUpdates(), std::make_shared<KeyValueStoragePreview>(), files(),
                                              std::make_shared<RecordingWorkspace>(), VantrelModel::Lifecycle{});
    }

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_scratch;
    EnvelopeServer m_server;
};

QTEST_MAIN(CrashReporterTest)
#include "crash_reporter_test.moc"
