// The texts journal records store (kinds of change, origins of versions): every team bundle holds
// them, so they never change, and a text this version does not write is read as unknown.

#include "engine/journal/record_kind.h"
#include "engine/team_state.h"

#include <QTest>

using namespace vantrel;
using namespace Qt::StringLiterals;

class JournalTextsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordKinds()
    {
        const QList<std::pair<RecordKind, QString>> stored{{RecordKind::create, u"create"_s},
                                                           {RecordKind::version, u"version"_s},
                                                           {RecordKind::revert, u"revert"_s},
                                                           {RecordKind::rename, u"rename"_s},
                                                           {RecordKind::nest, u"nest"_s},
                                                           {RecordKind::unnest, u"unnest"_s},
                                                           {RecordKind::trash, u"trash"_s},
                                                           {RecordKind::restore, u"restore"_s},
                                                           {RecordKind::deletePermanently, u"delete"_s},
                                                           {RecordKind::lock, u"lock"_s},
                                                           {RecordKind::editing, u"editing"_s},
                                                           {RecordKind::discard, u"discard"_s}};
        for (const auto& [kind, text] : stored) {
            QCOMPARE(toText(kind), text);
            QVERIFY(recordKindFromText(text) == kind);
        }
        for (const QString& other : {u"Create"_s, u"create "_s, u"deletePermanently"_s, u"archive"_s, QString()})
            QVERIFY2(recordKindFromText(other) == RecordKind::unknown, qPrintable(other));
        QVERIFY(toText(RecordKind::unknown).isEmpty());
    }

    void versionOrigins()
    {
        const QList<std::pair<VersionOrigin, QString>> stored{{VersionOrigin::imported, u"imported"_s},
                                                              {VersionOrigin::checkedIn, u"checkedIn"_s},
                                                              {VersionOrigin::created, u"created"_s},
                                                              {VersionOrigin::reverted, u"reverted"_s}};
        for (const auto& [origin, text] : stored) {
            QCOMPARE(toText(origin), text);
            QVERIFY(versionOriginFromText(text) == origin);
        }
        for (const QString& other : {u"checkedin"_s, u"merged"_s, QString()})
            QVERIFY2(!versionOriginFromText(other), qPrintable(other));
    }
};

QTEST_GUILESS_MAIN(JournalTextsTest)
#include "journal_texts_test.moc"
