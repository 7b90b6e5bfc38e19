#include "design/ribbon.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace vantrel;
using namespace vantrel::design;

namespace {

// The two messages the application shell publishes.
Ribbon updateRibbon()
{
    return Ribbon{QStringLiteral("2 updates available"), 1, 1.0f, {}};
}

Ribbon betaRibbon()
{
    return Ribbon{QStringLiteral("Beta - Send Feedback"), 2, 0.5f, {}};
}

Ribbon ribbon(const QString& text, int rank, float weight)
{
    return Ribbon{text, rank, weight, {}};
}

QString selectedText(const Prioritizer<Ribbon>& prioritizer)
{
    return prioritizer.selected() ? prioritizer.selected()->text : QStringLiteral("<none>");
}

} // namespace

class PrioritizerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ranking_data()
    {
        QTest::addColumn<QList<Ribbon>>("ribbons");
        QTest::addColumn<QString>("expected");

        QTest::newRow("nothing") << QList<Ribbon>{} << QStringLiteral("<none>");
        QTest::newRow("one") << QList<Ribbon>{betaRibbon()} << betaRibbon().text;
        QTest::newRow("update before beta") << QList<Ribbon>{updateRibbon(), betaRibbon()} << updateRibbon().text;
        QTest::newRow("beta before update") << QList<Ribbon>{betaRibbon(), updateRibbon()} << updateRibbon().text;
        QTest::newRow("rank wins over weight")
            << QList<Ribbon>{ribbon("heavy", 2, 9.0f), ribbon("urgent", 1, 0.1f)} << QStringLiteral("urgent");
        QTest::newRow("same rank: larger weight")
            << QList<Ribbon>{ribbon("light", 1, 0.5f), ribbon("heavy", 1, 1.0f), ribbon("middle", 1, 0.7f)}
            << QStringLiteral("heavy");
        QTest::newRow("full tie: the first listed")
            << QList<Ribbon>{ribbon("first", 3, 1.0f), ribbon("second", 3, 1.0f)} << QStringLiteral("first");
        QTest::newRow("rank 0 and below beat rank 1")
            << QList<Ribbon>{updateRibbon(), ribbon("zero", 0, 0.0f), ribbon("negative", -1, 0.0f)}
            << QStringLiteral("negative");
    }

    void ranking()
    {
        QFETCH(QList<Ribbon>, ribbons);
        QFETCH(QString, expected);
        const Prioritizer<Ribbon> prioritizer(just(ribbons));
        QCOMPARE(selectedText(prioritizer), expected);
        QCOMPARE(prioritizer.values().size(), ribbons.size());
    }

    void followsTheLatestListOfTheFeed()
    {
        PassthroughSubject<QList<Ribbon>> feed;
        Prioritizer<Ribbon> prioritizer(feed.publisher());
        QSignalSpy changed(&prioritizer, &PrioritizerBase::selectedChanged);
        QCOMPARE(selectedText(prioritizer), QStringLiteral("<none>"));

        feed.send({betaRibbon()});
        QCOMPARE(selectedText(prioritizer), betaRibbon().text);
        feed.send({betaRibbon(), updateRibbon()});
        QCOMPARE(selectedText(prioritizer), updateRibbon().text);
        // The update message is cleared after a while: the beta message comes back.
        feed.send({betaRibbon()});
        QCOMPARE(selectedText(prioritizer), betaRibbon().text);
        feed.send({});
        QCOMPARE(selectedText(prioritizer), QStringLiteral("<none>"));
        QCOMPARE(changed.size(), 4);

        // A finished feed leaves the last selection in place.
        feed.send({updateRibbon()});
        feed.sendCompletion();
        QCOMPARE(selectedText(prioritizer), updateRibbon().text);
    }

    void theSelectedRibbonKeepsItsAction()
    {
        int updates = 0;
        int feedback = 0;
        Ribbon update = updateRibbon();
        update.action = [&updates] { ++updates; };
        Ribbon beta = betaRibbon();
        beta.action = [&feedback] { ++feedback; };

        const Prioritizer<Ribbon> prioritizer(just(QList<Ribbon>{beta, update}));
        prioritizer.selected()->action();
        QCOMPARE(updates, 1);
        QCOMPARE(feedback, 0);
    }

    void aDestroyedPrioritizerNoLongerListens()
    {
        PassthroughSubject<QList<Ribbon>> feed;
        auto prioritizer = std::make_unique<Prioritizer<Ribbon>>(feed.publisher());
        feed.send({betaRibbon()});
        prioritizer.reset();
        feed.send({updateRibbon()}); // must not reach the destroyed object
        feed.sendCompletion();
    }
};

QTEST_GUILESS_MAIN(PrioritizerTest)
#include "prioritizer_test.moc"
