#include "foundation/debouncer.h"

#include <QTest>

using namespace vantrel;
using namespace std::chrono_literals;

class DebouncerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void passesOnOnlyTheLatestValueAfterAQuietInterval()
    {
        ManualClock clock;
        QList<int> received;
        Debouncer<int> debouncer(
            1s, [&](const int& value) { received << value; }, clock);

        debouncer.send(1);
        clock.advance(900ms);
        debouncer.send(2); // restarts the interval
        clock.advance(900ms);
        QVERIFY(received.isEmpty());
        clock.advance(100ms);
        QCOMPARE(received, QList<int>{2});

        debouncer.send(3);
        clock.advance(60s);
        QCOMPARE(received, (QList<int>{2, 3}));
        QVERIFY(!debouncer.isPending());
    }

    void destroyingOrCancellingDropsTheWaitingValue()
    {
        ManualClock clock;
        QList<int> received;
        {
            Debouncer<int> debouncer(
                60s, [&](const int& value) { received << value; }, clock);
            debouncer.send(7);
            QCOMPARE(clock.pendingCount(), std::size_t(1));
        }
        QCOMPARE(clock.pendingCount(), std::size_t(0));
        clock.advance(120s);
        QVERIFY(received.isEmpty());

        Debouncer<int> debouncer(
            1s, [&](const int& value) { received << value; }, clock);
        debouncer.send(8);
        debouncer.cancel();
        clock.advance(2s);
        QVERIFY(received.isEmpty());
    }

    void manualClockRunsDueActionsInOrderIncludingOnesScheduledMeanwhile()
    {
        ManualClock clock;
        QStringList order;
        clock.schedule(20ms, [&] { order << QStringLiteral("b"); });
        clock.schedule(10ms, [&] {
            order << QStringLiteral("a");
            clock.schedule(5ms, [&] { order << QStringLiteral("a+5"); });
        });
        clock.schedule(20ms, [&] { order << QStringLiteral("c"); });
        clock.advance(30ms);
        QCOMPARE(order,
                 (QStringList{QStringLiteral("a"), QStringLiteral("a+5"), QStringLiteral("b"), QStringLiteral("c")}));
        QCOMPARE(clock.now(), 30ms);
    }

    void timerClockRunsOnTheEventLoop()
    {
        TimerClock clock;
        QList<int> received;
        Debouncer<int> debouncer(
            20ms, [&](const int& value) { received << value; }, clock);
        debouncer.send(1);
        debouncer.send(2);
        QTRY_COMPARE(received, QList<int>{2});
    }
};

QTEST_GUILESS_MAIN(DebouncerTest)
#include "debouncer_test.moc"
