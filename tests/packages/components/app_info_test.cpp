// The application's identity read from its information, including odd and missing entries.

#include "packages/components/app_info.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QTest>

using namespace vantrel;
using ReleaseType = AppInfo::ReleaseType;

namespace {

QVariantMap urlType(const QVariant& schemes)
{
    return QVariantMap{{AppInfo::urlSchemesKey, schemes}};
}

AppInfo read(const QVariantMap& information) { return *AppInfo::fromInformation(information); }

} // namespace

class AppInfoTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void releaseTypeComesFromTheLastCharacterOnly_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<ReleaseType>("type");
        QTest::newRow("alpha") << QStringLiteral("2.3α") << ReleaseType::alpha;
        QTest::newRow("beta") << QStringLiteral("2.3β") << ReleaseType::beta;
        QTest::newRow("plain") << QStringLiteral("2.3") << ReleaseType::production;
        QTest::newRow("latin word") << QStringLiteral("2.3 beta") << ReleaseType::production;
        QTest::newRow("latin letter") << QStringLiteral("2.3b") << ReleaseType::production;
        QTest::newRow("letter first") << QStringLiteral("α2") << ReleaseType::production;
        QTest::newRow("accented alpha") << QStringLiteral("2.3α\u0301") << ReleaseType::production;
        QTest::newRow("missing") << QStringLiteral("-") << ReleaseType::production;
        QTest::newRow("empty") << QString() << ReleaseType::production;
    }
    void releaseTypeComesFromTheLastCharacterOnly()
    {
        QFETCH(QString, version);
        QFETCH(ReleaseType, type);
        const AppInfo info(QStringLiteral("App"), QIcon(), version, QStringLiteral("1"), QStringLiteral("id"),
                           std::nullopt);
        QCOMPARE(info.releaseType(), type);
        QCOMPARE(info.version(), version); // the letter is kept
        QCOMPARE(isProduction(info.releaseType()), type == ReleaseType::production);
    }

    void missingOrNonStringEntriesReadAsDash()
    {
        const AppInfo empty = read({});
        QCOMPARE(empty.name(), QStringLiteral("-"));
        QCOMPARE(empty.version(), QStringLiteral("-"));
        QCOMPARE(empty.buildNumber(), QStringLiteral("-"));
        QCOMPARE(empty.bundleId(), QStringLiteral("-"));
        QCOMPARE(empty.releaseType(), ReleaseType::production);
        QVERIFY(!empty.urlScheme());

        const AppInfo odd = read({{AppInfo::nameKey, 42},
                                  {AppInfo::versionKey, QStringList{QStringLiteral("1.0α")}},
                                  {AppInfo::buildNumberKey, QString()},
                                  {AppInfo::bundleIdKey, QVariant()}});
        QCOMPARE(odd.name(), QStringLiteral("-"));
        QCOMPARE(odd.version(), QStringLiteral("-"));
        QCOMPARE(odd.releaseType(), ReleaseType::production);
        QCOMPARE(odd.buildNumber(), QString()); // present and empty stays empty
        QCOMPARE(odd.bundleId(), QStringLiteral("-"));
    }

    void withoutItsOwnImageTheIconIsTheApplicationIcon()
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        const QIcon icon(pixmap);
        QGuiApplication::setWindowIcon(icon);
        QCOMPARE(read({}).icon().cacheKey(), QGuiApplication::windowIcon().cacheKey());
    }

    void noInformationGivesNoValue() { QVERIFY(!AppInfo::fromInformation(std::nullopt)); }

    void urlSchemeIsAbsentWhenAnyStepFails_data()
    {
        QTest::addColumn<QVariantMap>("information");
        QTest::newRow("no types") << QVariantMap{};
        QTest::newRow("types not a list") << QVariantMap{{AppInfo::urlTypesKey, QStringLiteral("vantrel")}};
        QTest::newRow("empty types") << QVariantMap{{AppInfo::urlTypesKey, QVariantList{}}};
        QTest::newRow("first type not a map")
            << QVariantMap{{AppInfo::urlTypesKey, QVariantList{QStringLiteral("x"), urlType(QStringList{"b"})}}};
        QTest::newRow("no schemes") << QVariantMap{{AppInfo::urlTypesKey, QVariantList{QVariantMap{}}}};
        QTest::newRow("empty schemes") << QVariantMap{{AppInfo::urlTypesKey, QVariantList{urlType(QStringList{})}}};
        QTest::newRow("schemes not all strings")
            << QVariantMap{{AppInfo::urlTypesKey, QVariantList{urlType(QVariantList{QStringLiteral("a"), 3})}}};
        QTest::newRow("only a later type has schemes")
            << QVariantMap{{AppInfo::urlTypesKey, QVariantList{QVariantMap{}, urlType(QStringList{"b"})}}};
    }
    void urlSchemeIsAbsentWhenAnyStepFails()
    {
        QFETCH(QVariantMap, information);
        QVERIFY(!read(information).urlScheme());
    }

    void urlSchemeIsTheFirstSchemeOfTheFirstType()
    {
        const QVariantMap information{
            {AppInfo::urlTypesKey, QVariantList{urlType(QStringList{"first", "second"}),
                                                urlType(QVariantList{QStringLiteral("third"), QStringLiteral("fourth")})}}};
        QCOMPARE(read(information).urlScheme(), std::optional<QString>(QStringLiteral("first")));
        // A list of variants that are all strings serves as well.
        QCOMPARE(read({{AppInfo::urlTypesKey, QVariantList{urlType(QVariantList{QStringLiteral("x")})}}}).urlScheme(),
                 std::optional<QString>(QStringLiteral("x")));
    }

    void theApplicationReadsItsOwnBuildInformation()
    {
        const AppInfo& info = AppInfo::shared();
        QCOMPARE(info.name(), QStringLiteral("Vantrel"));
        QVERIFY(info.version().startsWith(QStringLiteral(VANTREL_PROJECT_VERSION)));
        QVERIFY(!info.buildNumber().isEmpty());
        QCOMPARE(info.urlScheme(), std::optional<QString>(QStringLiteral("vantrel")));
        QCOMPARE(info.releaseType(), AppInfo::releaseTypeOf(info.version()));
        // One value for the process.
        QCOMPARE(&AppInfo::shared(), &info);

        const AppInfo preview = AppInfo::preview();
        QCOMPARE(preview.version(), QStringLiteral("13.37"));
        QCOMPARE(preview.releaseType(), ReleaseType::production);
        QVERIFY(!preview.urlScheme());
    }
};

QTEST_MAIN(AppInfoTest)
#include "app_info_test.moc"
