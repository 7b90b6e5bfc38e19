#include "design/ribbon.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace vantrel;
using namespace vantrel::design;

namespace {

Ribbon ribbon(const char* text, int rank, float weight)
{
    return Ribbon{QString::fromUtf8(text), rank, weight, {}};
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
        QTest::newRow("rank wins over weight")
            << QList<Ribbon>{ribbon("heavy", 2, 9.0f), ribbon("urgent", 1, 0.1f)} << QStringLiteral("urgent");
        QTest::newRow("same rank: larger weight")
            << QList<Ribbon>{ribbon("light", 1, 0.5f), ribbon("heavy", 1, 1.0f), ribbon("middle", 1, 0.7f)}
            << QStringLiteral("heavy");
        QTest::newRow("full tie: the first listed")
            << QList<Ribbon>{ribbon("first", 3, 1.0f), ribbon("second", 3, 1.0f)} << QStringLiteral("first");
        QTest::newRow("rank below 1") << QList<Ribbon>{ribbon("one", 1, 1.0f), ribbon("zero", 0, 0.0f),
                                                       ribbon("negative", -1, 0.0f)}
                                      << QStringLiteral("negative");
    }

    void ranking()
    {
        QFETCH(QList<Ribbon>, ribbons);
        QFETCH(QString, expected);
        QCOMPARE(selectedText(Prioritizer<Ribbon>(just(ribbons))), expected);
    }

    void followsTheLatestListOfTheFeed()
    {
        PassthroughSubject<QList<Ribbon>> feed;
        auto prioritizer = std::make_unique<Prioritizer<Ribbon>>(feed.publisher());
        QSignalSpy changed(prioritizer.get(), &PrioritizerBase::selectedChanged);
        feed.send({ribbon("beta", 2, 0.5f), ribbon("update", 1, 1.0f)});
        QCOMPARE(selectedText(*prioritizer), QStringLiteral("update"));
        feed.send({ribbon("beta", 2, 0.5f)});
        QCOMPARE(selectedText(*prioritizer), QStringLiteral("beta"));
        feed.send({});
        QCOMPARE(selectedText(*prioritizer), QStringLiteral("<none>"));
        QCOMPARE(changed.size(), 3);

        prioritizer.reset();
        feed.send({ribbon("late", 1, 1.0f)}); // must not reach the destroyed object
        feed.sendCompletion();
    }
};

QTEST_GUILESS_MAIN(PrioritizerTest)
#include "prioritizer_test.moc"
