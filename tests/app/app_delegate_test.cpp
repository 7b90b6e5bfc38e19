// The quit path: every way of quitting asks the installed confirmation, one question at a time,
// and the application quits (or restarts) only when the answer is yes.

#include "app/app_delegate.h"
#include "views/presenters/alert_box.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>
#include <optional>

#include <unistd.h>

using namespace vantrel;

namespace {

// A delegate whose quitting is only noted, with a confirmation that keeps each reply for later
// or answers at once.
struct Harness {
    QStringList events;
    QList<VantrelAppDelegate::Reply> asked;
    std::optional<bool> answerAtOnce;
    VantrelAppDelegate delegate{[this] { events << QStringLiteral("terminate"); }};

    void installConfirmation()
    {
        QVERIFY(delegate.installAlertBeforeClosing([this](VantrelAppDelegate::Reply reply) {
            asked << reply;
            if (answerAtOnce)
                reply(*answerAtOnce);
        }));
    }
    int terminated() const { return int(events.count(QStringLiteral("terminate"))); }
};

QAbstractButton* buttonTitled(QMessageBox* box, const QString& title)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title)
            return button;
    return nullptr;
}

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // First: no window of this process has been active yet.
    void theConfirmationIsInstalledOnceWhenTheMainWindowIsFirstShown()
    {
        if (QGuiApplication::applicationState() == Qt::ApplicationActive)
            QSKIP("the application is already active");
        Harness h;
        QWidget window;
        int firstAsked = 0;
        h.delegate.installWhenActive([&](VantrelAppDelegate::Reply) { ++firstAsked; }, &window);
        QVERIFY(!h.delegate.alertBeforeClosing());
        window.show();
        QVERIFY(h.delegate.alertBeforeClosing());
        window.hide();
        window.show(); // showing or activating again changes nothing
        h.delegate.installWhenActive([](VantrelAppDelegate::Reply reply) { reply(true); }, &window);
        QVERIFY(!h.delegate.installAlertBeforeClosing([](VantrelAppDelegate::Reply reply) { reply(true); }));
        h.delegate.requestQuit();
        QCOMPARE(firstAsked, 1);
        QCOMPARE(h.terminated(), 0);
    }

    void theAnswerDecides()
    {
        Harness h;
        h.installConfirmation();
        h.answerAtOnce = false; // unsaved changes, and the user cancels
        h.delegate.requestQuit();
        h.delegate.requestQuit(); // asks again
        QCOMPARE(h.asked.size(), 2);
        QCOMPARE(h.terminated(), 0);
        QVERIFY(!h.delegate.isAsking());

        // Answered later: further requests wait for that answer, and only its first call counts.
        h.answerAtOnce.reset();
        h.delegate.requestQuit();
        QVERIFY(h.delegate.isAsking());
        h.delegate.requestQuit();
        h.delegate.requestRestart();
        QCOMPARE(h.asked.size(), 3);
        h.asked.last()(false);
        h.asked.last()(true);
        QCOMPARE(h.terminated(), 0);
        h.delegate.requestQuit();
        QCOMPARE(h.asked.size(), 4);
        h.asked.last()(true);
        h.asked.last()(true);
        QCOMPARE(h.terminated(), 1);

        // Nothing unsaved: the confirmation agrees at once.
        Harness clean;
        clean.installConfirmation();
        clean.answerAtOnce = true;
        clean.delegate.requestQuit();
        QCOMPARE(clean.terminated(), 1);
        clean.delegate.requestQuit(); // already on its way out
        QCOMPARE(clean.asked.size(), 1);
        QCOMPARE(clean.terminated(), 1);
    }

    void aReplyDroppedUnansweredEndsTheRequest()
    {
        Harness h;
        int asked = 0;
        h.delegate.installAlertBeforeClosing([&](VantrelAppDelegate::Reply) { ++asked; });
        h.delegate.requestQuit();
        QVERIFY(!h.delegate.isAsking());
        h.delegate.requestQuit();
        QCOMPARE(asked, 2);
        QCOMPARE(h.terminated(), 0);
    }

    void closingTheMainWindowAsks()
    {
        Harness h;
        h.installConfirmation();
        QWidget window;
        h.delegate.handleClosesOf(&window);
        window.show();
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(h.asked.size(), 1);
        h.asked.last()(false);
        QVERIFY(!window.close());
        QCOMPARE(h.asked.size(), 2);
        h.asked.last()(true);
        QCOMPARE(h.terminated(), 1);
        QVERIFY(window.close()); // quitting closes the windows

        // The helper for a window's own close event; without a confirmation, granted at once.
        Harness direct;
        QCloseEvent event;
        QVERIFY(!direct.delegate.handleClose(&event)); // the close goes ahead
        QVERIFY(event.isAccepted());
        QCOMPARE(direct.terminated(), 1);
        QVERIFY(direct.delegate.isTerminating());
    }

    void terminationSignalsAskThenQuitOnlyWhenGranted()
    {
        struct sigaction before {};
        ::sigaction(SIGTERM, nullptr, &before);
        {
            Harness h;
            h.installConfirmation();
            QVERIFY(h.delegate.handleTerminationSignals());
            Harness other;
            QTest::ignoreMessage(QtWarningMsg, "Termination signals are already handled.");
            QVERIFY(!other.delegate.handleTerminationSignals());

            int expected = 0;
            for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
                ::kill(::getpid(), number);
                ++expected;
                QTRY_COMPARE(h.asked.size(), expected);
                QCOMPARE(h.terminated(), 0);
                h.asked.last()(number == SIGHUP);
            }
            QCOMPARE(h.terminated(), 1);
        }
        struct sigaction after {};
        ::sigaction(SIGTERM, nullptr, &after);
        QVERIFY(after.sa_handler == before.sa_handler); // the handlers are given back
    }

    void restartReleasesLaunchesThenQuits()
    {
        Harness h;
        h.installConfirmation();
        bool launches = false;
        h.delegate.beforeRestart = [&] { h.events << QStringLiteral("release"); };
        h.delegate.launch = [&](const QString& program) {
            h.events << QStringLiteral("launch ") + program;
            return launches;
        };
        h.delegate.restartFailed = [&](const QString& reason) {
            QVERIFY(!reason.isEmpty());
            h.events << QStringLiteral("failed");
        };
        const QString launch = QStringLiteral("launch ") + QCoreApplication::applicationFilePath();

        h.delegate.requestRestart();
        h.asked.last()(false);
        QVERIFY(h.events.isEmpty());

        // The new instance does not start: this one keeps running and still asks.
        h.delegate.requestRestart();
        h.asked.last()(true);
        QCOMPARE(h.events, (QStringList{QStringLiteral("release"), launch, QStringLiteral("failed")}));
        QVERIFY(!h.delegate.isTerminating());

        h.events.clear();
        launches = true;
        h.delegate.requestRestart();
        QCOMPARE(h.asked.size(), 3);
        h.asked.last()(true);
        QCOMPARE(h.events, (QStringList{QStringLiteral("release"), launch, QStringLiteral("terminate")}));
    }

    void theLauncherStartsTheProgramWithoutArguments()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        const QString program = dir.filePath(QStringLiteral("program"));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$#\" > '" + marker.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(VantrelAppDelegate::launchDetached(program));
        const auto contents = [&] {
            QFile file(marker);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(contents(), QByteArray("0\n"));
        QVERIFY(!VantrelAppDelegate::launchDetached(dir.filePath(QStringLiteral("missing"))));
    }

    // The whole question as the window shows it: Escape cancels, an alert raised meanwhile waits
    // behind the question, and "Quit" quits.
    void theQuestionInTheWindow()
    {
        Harness h;
        QWidget window;
        AlertModel alerts;
        QPointer<QMessageBox> box;
        connect(&alerts, &AlertModel::detailsChanged, &alerts, [&] {
            if (alerts.details()) {
                box = makeAlertBox(*alerts.details(), presentedFlag(&alerts), &window);
                box->open();
            }
        });
        h.delegate.installAlertBeforeClosing([&](VantrelAppDelegate::Reply reply) {
            AlertDetails question(
                QStringLiteral("Are you sure you want to quit?"), QStringLiteral("1 item has unsaved changes."),
                {{QStringLiteral("Quit"), [reply] { reply(true); }},
                 {.title = QStringLiteral("Cancel"), .action = [reply] { reply(false); }, .cancels = true}});
            question.mustBeAnswered = true;
            alerts.setDetails(question);
        });
        window.show();

        h.delegate.requestQuit();
        QPointer<QMessageBox> question = box;
        alerts.show(Error(QStringLiteral("The share is gone.")));
        h.delegate.requestQuit();
        QCOMPARE(box, question);
        QCOMPARE(alerts.waitingCount(), 1);
        QTest::keyClick(question, Qt::Key_Escape);
        QCOMPARE(h.terminated(), 0);
        QVERIFY(!h.delegate.isAsking());
        QCOMPARE(alerts.details()->message, QStringLiteral("The share is gone."));
        box->buttons().first()->click();
        QVERIFY(!alerts.details());

        h.delegate.requestQuit();
        buttonTitled(box, QStringLiteral("Quit"))->click();
        QCOMPARE(h.terminated(), 1);
    }
};

QTEST_MAIN(AppDelegateTest)
#include "app_delegate_test.moc"
