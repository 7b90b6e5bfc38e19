#include "engine/id_for.h"

#include <QTest>

using namespace vantrel;

class IdForTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parsesOnlyTheHyphenatedFormInEitherCase()
    {
        const auto upper = IdFor<VersionBundle>::fromString(u"6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
        const auto lower = IdFor<VersionBundle>::fromString(u"6ba7b810-9dad-11d1-80b4-00c04fd430c8");
        QVERIFY(upper && lower);
        QVERIFY(*upper == *lower);
        QCOMPARE(lower->toString(), QStringLiteral("6BA7B810-9DAD-11D1-80B4-00C04FD430C8"));

        for (const auto* text : {u"{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}", u"6BA7B8109DAD11D180B400C04FD430C8",
                                 u"6BA7B810-9DAD-11D1-80B4-00C04FD430C", u"6BA7B810-9DAD-11D1-80B4-00C04FD430CG",
                                 u"6BA7B810-9DAD-11D1+80B4-00C04FD430C8", u"", u"collection"}) {
            QVERIFY2(!IdFor<VersionBundle>::fromString(QStringView(text)), qPrintable(QString::fromUtf16(text)));
        }
    }

    void jsonRoundTripAndRejection()
    {
        const auto id = IdFor<VersionBundle>::make();
        QVERIFY(IdFor<VersionBundle>::fromJson(id.toJson()) == id);
        QVERIFY(decodeJson<IdFor<VersionBundle>>(encodeJson(id)) == id);
        QVERIFY_THROWS_EXCEPTION(DecodingError, IdFor<VersionBundle>::fromJson(QJsonValue(3)));
        QVERIFY_THROWS_EXCEPTION(DecodingError, IdFor<VersionBundle>::fromJson(QStringLiteral("nope")));
    }

    void jsonTextOfScalarsAndObjects()
    {
        QCOMPARE(jsonText(QJsonValue()), QByteArray("null"));
        QCOMPARE(jsonText(QStringLiteral("a\"b")), QByteArray("\"a\\\"b\""));
        QCOMPARE(encodeJson(std::optional<int>()), QByteArray("null"));
        QCOMPARE(decodeJson<std::optional<int>>("null"), std::optional<int>());
        QCOMPARE(decodeJson<int>(" 42 "), 42);
        QVERIFY_THROWS_EXCEPTION(DecodingError, parseJsonText(""));
        QVERIFY_THROWS_EXCEPTION(DecodingError, parseJsonText("{\"a\":"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, parseJsonText("1, 2"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, decodeJson<int>("1.5"));
    }
};

QTEST_GUILESS_MAIN(IdForTest)
#include "id_for_test.moc"
