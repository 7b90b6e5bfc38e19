#include "foundation/task_starter.h"

#include <QCoroTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace vantrel;

namespace {

class OperationError : public Error {
public:
    OperationError() : Error(QStringLiteral("The check-in failed.")) {}
};

QCoro::Task<> shortPause()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(5);
    co_await timer;
}

} // namespace

class TaskStarterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operationThenCompletionStartedFromTheEventLoop()
    {
        QStringList steps;
        startTask(
            std::nullopt,
            [&]() -> QCoro::Task<> {
                steps << QStringLiteral("operation");
                co_await shortPause();
                steps << QStringLiteral("resumed");
            },
            [&](const Error&) -> QCoro::Task<> {
                steps << QStringLiteral("error");
                co_return;
            },
            [&] { steps << QStringLiteral("completion"); });
        steps << QStringLiteral("started");
        QTRY_COMPARE(steps, (QStringList{QStringLiteral("started"), QStringLiteral("operation"),
                                         QStringLiteral("resumed"), QStringLiteral("completion")}));
    }

    void failureReachesTheHandlerWithItsTypeThenCompletionRuns()
    {
        QStringList steps;
        startTask(
            TaskPriority::userInitiated,
            [&]() -> QCoro::Task<> {
                co_await shortPause();
                throw OperationError();
            },
            [&](const Error& error) -> QCoro::Task<> {
                co_await shortPause(); // the error stays valid across suspension
                steps << (dynamic_cast<const OperationError*>(&error) ? QStringLiteral("typed:")
                                                                      : QStringLiteral("untyped:"))
                             + error.localizedDescription();
            },
            [&] { steps << QStringLiteral("completion"); });
        QTRY_COMPARE(steps, (QStringList{QStringLiteral("typed:The check-in failed."), QStringLiteral("completion")}));
    }

    void failingHandlerStillRunsCompletion()
    {
        bool completed = false;
        startTask(
            std::nullopt,
            []() -> QCoro::Task<> {
                throw std::runtime_error("first");
                co_return;
            },
            [](const Error&) -> QCoro::Task<> {
                throw std::runtime_error("second");
                co_return;
            },
            [&] { completed = true; });
        QTRY_VERIFY(completed);
    }

    void startedFromAWorkerRunsOnTheInterfaceThread()
    {
        QThread* ranOn = nullptr;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            startTask(std::nullopt,
                      [&]() -> QCoro::Task<> {
                          ranOn = QThread::currentThread();
                          co_return;
                      },
                      {});
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_VERIFY(ranOn);
        QCOMPARE(ranOn, QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TaskStarterTest)
#include "task_starter_test.moc"
