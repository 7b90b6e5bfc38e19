#include "packages/components/app_info.h"

#include <QTest>

using namespace vantrel;
using ReleaseType = AppInfo::ReleaseType;

namespace {

QVariantMap withTypes(const QVariantList& types)
{
    return {{AppInfo::urlTypesKey, types}};
}
QVariantMap urlType(const QVariant& schemes)
{
    return {{AppInfo::urlSchemesKey, schemes}};
}
AppInfo read(const QVariantMap& information)
{
    return *AppInfo::fromInformation(information);
}

} // namespace

class AppInfoTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void releaseTypeComesFromTheLastCharacterOnly()
    {
        const QList<std::pair<QString, ReleaseType>> cases{{QStringLiteral("2.3α"), ReleaseType::alpha},
                                                           {QStringLiteral("2.3β"), ReleaseType::beta},
                                                           {QStringLiteral("2.3 beta"), ReleaseType::production},
                                                           {QStringLiteral("α2"), ReleaseType::production},
                                                           {QStringLiteral("2.3α\u0301"), ReleaseType::production},
                                                           {QString(), ReleaseType::production}};
        for (const auto& [version, type] : cases)
            QVERIFY2(read({{AppInfo::versionKey, version}}).releaseType() == type, qPrintable(version));
    }

    void missingOrNonStringEntriesReadAsDash()
    {
        QVERIFY(!AppInfo::fromInformation(std::nullopt));
        const AppInfo odd = read({{AppInfo::nameKey, 42},
                                  {AppInfo::versionKey, QStringList{QStringLiteral("1.0α")}},
                                  {AppInfo::buildNumberKey, QString()}});
        QCOMPARE(odd.name(), QStringLiteral("-"));
        QCOMPARE(odd.version(), QStringLiteral("-"));
        QCOMPARE(odd.releaseType(), ReleaseType::production);
        QCOMPARE(odd.buildNumber(), QString()); // present and empty stays empty
        QCOMPARE(odd.bundleId(), QStringLiteral("-"));
    }

    void urlSchemeIsTheFirstSchemeOfTheFirstType()
    {
        const QList<QVariantMap> absent{
            {},
            {{AppInfo::urlTypesKey, QStringLiteral("vantrel")}},
            withTypes({}),
            withTypes({QStringLiteral("x"), urlType(QStringList{"b"})}),
            withTypes({urlType(QStringList{})}),
            withTypes({urlType(QVariantList{QStringLiteral("a"), 3})}),
            withTypes({QVariantMap{}, urlType(QStringList{"b"})}),
        };
        for (const QVariantMap& information : absent)
            QVERIFY(!read(information).urlScheme());
        QCOMPARE(read(withTypes({urlType(QStringList{"first", "second"}), urlType(QStringList{"third"})})).urlScheme(),
                 std::optional<QString>(QStringLiteral("first")));
        QCOMPARE(read(withTypes({urlType(QVariantList{QStringLiteral("x")})})).urlScheme(),
                 std::optional<QString>(QStringLiteral("x")));
    }

    void theApplicationReadsItsOwnBuildInformation()
    {
        const AppInfo& info = AppInfo::shared();
        QCOMPARE(info.name(), QStringLiteral("Vantrel"));
        QVERIFY(info.version().startsWith(QStringLiteral(VANTREL_PROJECT_VERSION)));
        QVERIFY(!info.buildNumber().isEmpty());
        QCOMPARE(info.urlScheme(), std::optional<QString>(QStringLiteral("vantrel")));
    }
};

QTEST_MAIN(AppInfoTest)
#include "app_info_test.moc"
