#include "foundation/debouncer.h"
#include "foundation/observable_object.h"
#include "foundation/publisher.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

using namespace vantrel;

namespace {

// An item as the models hold them: shared by its owner, subscribed to a service's changes
// through a handler that refers to it weakly.
class Item : public ObservableObject, public std::enable_shared_from_this<Item> {
    Q_OBJECT
public:
    Published<int> reloads{this, &Item::reloadsChanged};
    Cancellable cancelOnRemoteDatabaseChange;

    void subscribe(const AnyPublisher<int>& changes, int* handled)
    {
        std::weak_ptr<Item> weakSelf = shared_from_this();
        cancelOnRemoteDatabaseChange = changes.sink([weakSelf, handled](const int&) {
            ++*handled;
            if (auto self = weakSelf.lock())
                self->reloads = self->reloads() + 1;
        });
    }
Q_SIGNALS:
    void reloadsChanged();
};

} // namespace

class PublisherTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void subjectRelaysToCurrentSubscribersUntilCompletion()
    {
        PassthroughSubject<QString> subject;
        QStringList first, second;
        int completions = 0;
        auto a = subject.publisher().sink([&](const QString& v) { first << v; }, [&] { ++completions; });
        subject.send(QStringLiteral("one"));
        auto b = subject.publisher().sink([&](const QString& v) { second << v; }, [&] { ++completions; });
        subject.send(QStringLiteral("two"));
        subject.sendCompletion();
        subject.send(QStringLiteral("after"));
        QCOMPARE(first, (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
        QCOMPARE(second, QStringList{QStringLiteral("two")});
        QCOMPARE(completions, 2);

        // A late subscriber finishes at once and receives nothing.
        bool lateCompleted = false;
        auto late = subject.publisher().sink([](const QString&) { QFAIL("no value after completion"); },
                                             [&] { lateCompleted = true; });
        QVERIFY(lateCompleted);
    }

    void cancellingEndsDelivery()
    {
        PassthroughSubject<int> subject;
        QList<int> received;
        auto subscription = subject.publisher().sink([&](const int& v) { received << v; });
        subject.send(1);
        subscription.cancel();
        subject.send(2);
        QCOMPARE(received, QList<int>{1});

        // Moving a subscription keeps it; overwriting it ends the old one.
        Cancellable kept = subject.publisher().sink([&](const int& v) { received << v; });
        Cancellable moved = std::move(kept);
        subject.send(3);
        moved = Cancellable();
        subject.send(4);
        QCOMPARE(received, (QList<int>{1, 3}));
    }

    void releasedItemEndsItsSubscriptions()
    {
        PassthroughSubject<int> changes;
        int handled = 0;
        auto item = std::make_shared<Item>();
        item->subscribe(changes, &handled);
        changes.send(1);
        QCOMPARE(item->reloads(), 1);
        QCOMPARE(handled, 1);

        std::weak_ptr<Item> watcher = item;
        item.reset();
        QVERIFY(watcher.expired());
        changes.send(2); // the handler is gone with the item: not even called
        QCOMPARE(handled, 1);
    }

    void combineLatestWaitsForBothAndFinishesWhenBothFinish()
    {
        PassthroughSubject<int> numbers;
        PassthroughSubject<QString> names;
        QList<std::pair<int, QString>> received;
        bool finished = false;
        auto subscription =
            numbers.publisher()
                .combineLatest(names.publisher())
                .sink([&](const std::pair<int, QString>& v) { received << v; }, [&] { finished = true; });
        numbers.send(1);
        numbers.send(2);
        QVERIFY(received.isEmpty());
        names.send(QStringLiteral("a"));
        numbers.sendCompletion();
        names.send(QStringLiteral("b")); // a finished input keeps its last value
        QCOMPARE(received, (QList<std::pair<int, QString>>{{2, QStringLiteral("a")}, {2, QStringLiteral("b")}}));
        QVERIFY(!finished);
        names.sendCompletion();
        QVERIFY(finished);
    }

    void justMapAndFilter()
    {
        QList<int> received;
        int completions = 0;
        auto subscription = just(20)
                                .map([](const int& v) { return v + 1; })
                                .sink([&](const int& v) { received << v; }, [&] { ++completions; });
        QCOMPARE(received, QList<int>{21});
        QCOMPARE(completions, 1);

        PassthroughSubject<int> subject;
        auto odd = subject.publisher().filter([](const int& v) { return v % 2 == 1; }).sink([&](const int& v) {
            received << v;
        });
        for (int v : {1, 2, 3})
            subject.send(v);
        QCOMPARE(received, (QList<int>{21, 1, 3}));
    }

    void receiveOnMovesDeliveryToTheContextThread()
    {
        PassthroughSubject<int> subject;
        QObject context;
        QThread* deliveredOn = nullptr;
        QList<int> received;
        auto subscription = subject.publisher().receiveOn(&context).sink([&](const int& v) {
            deliveredOn = QThread::currentThread();
            received << v;
        });

        std::unique_ptr<QThread> worker(QThread::create([&] { subject.send(5); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QVERIFY(received.isEmpty()); // queued, not yet delivered
        QTRY_COMPARE(received, QList<int>{5});
        QCOMPARE(deliveredOn, QThread::currentThread());

        // A value still queued when the subscription ends is dropped.
        subject.send(6);
        subscription.cancel();
        QTest::qWait(20);
        QCOMPARE(received, QList<int>{5});
    }

    void removeDuplicatesAndMerge()
    {
        PassthroughSubject<int> left;
        PassthroughSubject<int> right;
        QList<int> received;
        bool finished = false;
        auto subscription = left.publisher()
                                .removeDuplicates()
                                .merge(right.publisher())
                                .sink([&](const int& v) { received << v; }, [&] { finished = true; });
        for (int v : {1, 1, 2, 1})
            left.send(v);
        right.send(2);
        right.send(2);
        QCOMPARE(received, (QList<int>{1, 2, 1, 2, 2}));
        left.sendCompletion();
        QVERIFY(!finished);
        right.sendCompletion();
        QVERIFY(finished);
    }

    void debounceOnAClock()
    {
        using namespace std::chrono_literals;
        ManualClock clock;
        PassthroughSubject<int> subject;
        QList<std::pair<long long, int>> received;
        bool finished = false;
        Cancellable subscription = debounce(subject.publisher(), 10s, clock).sink(
            [&](const int& v) { received << std::pair(std::chrono::duration_cast<std::chrono::seconds>(clock.now()).count(), v); },
            [&] { finished = true; });
        subject.send(1);
        clock.advance(5s);
        subject.send(2);
        clock.advance(9s);
        QVERIFY(received.isEmpty());
        clock.advance(1s);
        QCOMPARE(received, (QList<std::pair<long long, int>>{{15, 2}}));

        // A value that waits when the upstream finishes still comes, then the completion.
        subject.send(3);
        subject.sendCompletion();
        QVERIFY(!finished);
        clock.advance(10s);
        QCOMPARE(received.last(), (std::pair<long long, int>{25, 3}));
        QVERIFY(finished);

        // A receiver may end its own subscription; a cancelled one gets nothing more.
        PassthroughSubject<int> other;
        int calls = 0;
        Cancellable once;
        once = debounce(other.publisher(), 1s, clock).sink([&](const int&) {
            ++calls;
            once.cancel();
        });
        other.send(1);
        clock.advance(1s);
        other.send(2);
        clock.advance(1s);
        QCOMPARE(calls, 1);
        QCOMPARE(clock.pendingCount(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(PublisherTest)
#include "publisher_test.moc"
