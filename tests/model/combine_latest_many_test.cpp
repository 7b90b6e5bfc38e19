#include "model/combine_latest_many.h"

#include <QTest>

using namespace vantrel;

using Values = std::vector<int>;

class CombineLatestManyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void noPublishersGiveOneEmptyListThenFinish()
    {
        QList<Values> received;
        bool finished = false;
        auto subscription =
            CombineLatestMany<int>({}).subscribe({[&](const Values& v) { received << v; }, [&] { finished = true; }});
        QCOMPARE(received, QList<Values>{Values{}});
        QVERIFY(finished);
    }

    void emitsInInputOrderOnceEveryInputHasPublished()
    {
        PassthroughSubject<int> a, b, c;
        QList<Values> received;
        bool finished = false;
        CombineLatestMany<int> combined({a, b, c});
        auto subscription = combined.subscribe({[&](const Values& v) { received << v; }, [&] { finished = true; }});

        c.send(30);
        a.send(10);
        QVERIFY(received.isEmpty());
        b.send(20);
        a.send(11);
        c.send(31);
        QCOMPARE(received, (QList<Values>{{10, 20, 30}, {11, 20, 30}, {11, 20, 31}}));

        a.sendCompletion();
        b.sendCompletion();
        QVERIFY(!finished);
        c.send(32); // finished inputs keep their last value
        QCOMPARE(received.last(), (Values{11, 20, 32}));
        c.sendCompletion();
        QVERIFY(finished);
    }

    void eachSubscriberGetsItsOwnChain()
    {
        PassthroughSubject<int> a;
        CombineLatestMany<int> combined({a, just(7)});
        QList<Values> first, second;
        auto one = combined.eraseToAnyPublisher().sink([&](const Values& v) { first << v; });
        a.send(1);
        auto two = combined.eraseToAnyPublisher().sink([&](const Values& v) { second << v; });
        a.send(2);
        one.cancel();
        a.send(3);
        QCOMPARE(first, (QList<Values>{{1, 7}, {2, 7}}));
        QCOMPARE(second, (QList<Values>{{2, 7}, {3, 7}}));
    }
};

QTEST_GUILESS_MAIN(CombineLatestManyTest)
#include "combine_latest_many_test.moc"
