#include "model/item_selection.h"

#include <QJsonObject>
#include <QTest>

using namespace vantrel;

namespace {
const QString collectionId = QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");
const QString documentId = QStringLiteral("7C9E6679-7425-40DE-944B-E07FC1F90AE7");
const QString eventId = QStringLiteral("F47AC10B-58CC-4372-A567-0E02B2C3D479");

QString idText(const std::optional<IdFor<VersionBundle>>& id)
{
    return id ? id->toString() : QStringLiteral("-");
}
QString describe(const std::optional<ItemSelection>& selection)
{
    if (!selection)
        return QStringLiteral("none");
    return selection->collection.toString() + QLatin1Char('|') + idText(selection->document) + QLatin1Char('|')
           + idText(selection->event);
}
} // namespace

class ItemSelectionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fromPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const QString none = QStringLiteral("none");
        const QString collectionOnly = collectionId + QStringLiteral("|-|-");
        QTest::newRow("collection") << QLatin1Char('/') + collectionId << collectionOnly;
        QTest::newRow("slash after") << collectionId + QLatin1Char('/') << collectionOnly;
        QTest::newRow("doubled slashes") << QStringLiteral("//") + collectionId + QStringLiteral("//")
                                         << collectionOnly;
        QTest::newRow("lower case") << QLatin1Char('/') + collectionId.toLower() << collectionOnly;
        QTest::newRow("all three") << QStringLiteral("/%1/%2/%3").arg(collectionId, documentId, eventId)
                                   << collectionId + QLatin1Char('|') + documentId + QLatin1Char('|') + eventId;
        QTest::newRow("fourth ignored") << QStringLiteral("/%1/%2/%3/%2").arg(collectionId, documentId, eventId)
                                        << collectionId + QLatin1Char('|') + documentId + QLatin1Char('|') + eventId;
        QTest::newRow("bad document, good event") << QStringLiteral("/%1/not-a-uuid/%2").arg(collectionId, eventId)
                                                  << collectionId + QStringLiteral("|-|") + eventId;
        QTest::newRow("bad event") << QStringLiteral("/%1/%2/x").arg(collectionId, documentId)
                                   << collectionId + QLatin1Char('|') + documentId + QStringLiteral("|-");
        QTest::newRow("empty") << QString() << none;
        QTest::newRow("slashes only") << QStringLiteral("///") << none;
        QTest::newRow("bad collection") << QStringLiteral("/library/%1").arg(documentId) << none;
        QTest::newRow("braced collection") << QStringLiteral("/{%1}").arg(collectionId) << none;
    }

    void fromPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(describe(ItemSelection::fromPath(path)), expected);
    }

    void jsonLeavesOutAbsentIdsAndReadsThemBack()
    {
        const auto collection = *IdFor<VersionBundle>::fromString(collectionId);
        const ItemSelection only{collection, std::nullopt, std::nullopt};
        QCOMPARE(encodeJson(only), QByteArray("{\"collection\":\"") + collectionId.toLatin1() + "\"}");
        QCOMPARE(describe(decodeJson<ItemSelection>(encodeJson(only))), collectionId + QStringLiteral("|-|-"));

        const ItemSelection full{collection, IdFor<VersionBundle>::fromString(documentId),
                                 IdFor<VersionBundle>::fromString(eventId)};
        QCOMPARE(describe(decodeJson<ItemSelection>(encodeJson(full))), describe(full));
    }

    void decodingRules()
    {
        const QByteArray c = collectionId.toLatin1();
        // null members and unknown members are fine
        QCOMPARE(describe(decodeJson<ItemSelection>("{\"collection\":\"" + c + "\",\"document\":null,\"x\":1}")),
                 collectionId + QStringLiteral("|-|-"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, decodeJson<ItemSelection>("{\"document\":\"" + c + "\"}"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, decodeJson<ItemSelection>("{\"collection\":null}"));
        QVERIFY_THROWS_EXCEPTION(DecodingError,
                                 decodeJson<ItemSelection>("{\"collection\":\"" + c + "\",\"event\":\"zzz\"}"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, decodeJson<ItemSelection>("[]"));
    }

    void codingKeys()
    {
        QCOMPARE(ItemSelection::stringValue(ItemSelection::CodingKeys::event), QStringLiteral("event"));
        QCOMPARE(ItemSelection::codingKey(u"document"), ItemSelection::CodingKeys::document);
        QVERIFY(!ItemSelection::codingKey(u"Document"));
        QVERIFY(!ItemSelection::codingKey(0));
        QVERIFY(!ItemSelection::intValue(ItemSelection::CodingKeys::collection));
    }
};

QTEST_GUILESS_MAIN(ItemSelectionTest)
#include "item_selection_test.moc"
