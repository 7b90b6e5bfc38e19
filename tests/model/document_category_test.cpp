#include "model/document_category.h"
#include "model/strings.h"
#include "model/versioned_item.h"

#include <QSet>
#include <QTest>

#include <algorithm>

using namespace vantrel;

namespace {

DocumentType customType(std::optional<QString> groupName)
{
    return DocumentType::custom(DocumentType::Custom{QStringLiteral("org.example.grade"),
                                                     QStringLiteral("Grade"),
                                                     {QStringLiteral("grade")},
                                                     false,
                                                     std::move(groupName)});
}

} // namespace

class DocumentCategoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void orderPutsCustomGroupsFirstByName()
    {
        using C = DocumentTypeCategory;
        QList<C> categories{C::documents(),
                            C::custom(QStringLiteral("B")),
                            C::other(),
                            C::custom(QStringLiteral("A")),
                            C::libraries(),
                            C::collections(),
                            C::events(),
                            C::projects(),
                            C::custom(QStringLiteral("a"))};
        std::sort(categories.begin(), categories.end());
        QCOMPARE(categories, (QList<C>{C::custom(QStringLiteral("A")), C::custom(QStringLiteral("B")),
                                       C::custom(QStringLiteral("a")), C::collections(), C::libraries(), C::events(),
                                       C::projects(), C::documents(), C::other()}));

        QVERIFY(!(C::collections() < C::collections()));
        QVERIFY(C::collections() <= C::collections());
        QVERIFY(!(C::custom(QStringLiteral("A")) < C::custom(QStringLiteral("A"))));
        QVERIFY(C::custom(QStringLiteral("Zzz")) < C::collections());
        QVERIFY(C::documents() < C::other());
        QVERIFY(C::other() > C::documents() && C::other() >= C::other());
    }

    void equalityTitlesAndHashes()
    {
        using C = DocumentTypeCategory;
        QVERIFY(C::custom(QStringLiteral("Grades")) == C::custom(QStringLiteral("Grades")));
        QVERIFY(!(C::custom(QStringLiteral("Grades")) == C::custom(QStringLiteral("grades"))));
        QCOMPARE(C::custom(QStringLiteral("Grades")).title(), QStringLiteral("Grades"));
        QCOMPARE(C::custom(QStringLiteral("Grades")).id(), QStringLiteral("Grades"));
        QCOMPARE(C::libraries().title(), Strings::librariesTitle());
        QCOMPARE(C::collections().id(), Strings::collectionsTitle());
        QCOMPARE(qHash(C::events()), qHash(Strings::eventsTitle()));
        QSet<C> set{C::other(), C::other(), C::custom(QStringLiteral("Other stuff"))};
        QCOMPARE(set.size(), 2);
    }

    void aGroupNamedLikeAFixedGroupJoinsIt()
    {
        using C = DocumentTypeCategory;
        QCOMPARE(C::fromName(Strings::librariesTitle()), C::libraries());
        QCOMPARE(C::fromName(QStringLiteral("Grades")).kind(), C::Case::custom);
        QCOMPARE(category(customType(Strings::librariesTitle())), category(DocumentType::library()));
        QCOMPARE(category(customType(std::nullopt)), C::other());
        QCOMPARE(category(customType(QStringLiteral("Grades"))), C::custom(QStringLiteral("Grades")));
    }

    void everyEngineTypeHasItsGroup()
    {
        using C = DocumentTypeCategory;
        QCOMPARE(category(DocumentType::unknown(QStringLiteral("xyz"))), C::other());
        QCOMPARE(category(DocumentType::collection()), C::collections());
        QCOMPARE(category(DocumentType::library()), C::libraries());
        QCOMPARE(category(DocumentType::event()), C::events());
        QCOMPARE(category(DocumentType::kdenliveProject()), C::projects());
        QCOMPARE(category(DocumentType::subtitles()), C::other());
        QCOMPARE(category(DocumentType::textDocument()), C::documents());
        QCOMPARE(category(DocumentType::pdfDocument()), C::documents());
        QCOMPARE(category(DocumentType::blenderProject()), C::projects());
        QCOMPARE(category(DocumentType::ardourSession()), C::projects());
        QCOMPARE(category(DocumentType::resolveArchive()), C::projects());
        QCOMPARE(category(DocumentType::kritaBundle()), C::libraries());
        QCOMPARE(category(DocumentType::kdenliveTitle()), C::other());
    }

    void theViewsUpdateErrorIsOneValue()
    {
        const VersionedItemError a, b;
        QVERIFY(a == b);
        QCOMPARE(qHash(a), qHash(b));
        QCOMPARE(a.localizedDescription(), Strings::viewUpdateError());
        QVERIFY(!a.failureReason() && !a.recoverySuggestion() && !a.helpAnchor());
    }
};

QTEST_GUILESS_MAIN(DocumentCategoryTest)
#include "document_category_test.moc"
