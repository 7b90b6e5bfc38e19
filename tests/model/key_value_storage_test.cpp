#include "model/codable_app_storage.h"
#include "model/item_selection.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;

namespace {

// A value that refuses to be written.
struct Unwritable {
    QJsonValue toJson() const { throw EncodingError(QStringLiteral("not today")); }
    static Unwritable fromJson(const QJsonValue&) { return {}; }
};

using StoredSelection = std::optional<ItemSelection>;

ItemSelection sampleSelection()
{
    return ItemSelection{IdFor<VersionBundle>::make(), IdFor<VersionBundle>::make(), std::nullopt};
}

} // namespace

class KeyValueStorageTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_files = 0;

    std::vector<std::shared_ptr<KeyValueStorage>> bothStores()
    {
        return {std::make_shared<UserDefaultsStorage>(m_dir.filePath(QStringLiteral("s%1.ini").arg(++m_files))),
                std::make_shared<KeyValueStoragePreview>()};
    }

private Q_SLOTS:
    void readingNeverFails()
    {
        for (const auto& store : bothStores()) {
            QVERIFY(!store->codableValue<ItemSelection>(QStringLiteral("missing")));
            store->set(QStringLiteral("a string"), QStringLiteral("text"));
            QVERIFY(!store->codableValue<ItemSelection>(QStringLiteral("text")));
            QCOMPARE(store->string(QStringLiteral("text")), QStringLiteral("a string"));

            store->set(QByteArray("{\"collection\":"), QStringLiteral("broken"));
            QVERIFY(!store->codableValue<ItemSelection>(QStringLiteral("broken")));
            QVERIFY(!store->string(QStringLiteral("broken"))); // data is not a string
            store->set(QByteArray("{\"collection\":\"nope\"}"), QStringLiteral("wrong"));
            QVERIFY(!store->codableValue<ItemSelection>(QStringLiteral("wrong")));
        }
    }

    void absentValueIsStoredAsNullAndReadsAsAbsent()
    {
        for (const auto& store : bothStores()) {
            store->setCodableValue(StoredSelection(), QStringLiteral("itemSelection"));
            QCOMPARE(store->object(QStringLiteral("itemSelection")).toByteArray(), QByteArray("null"));
            QVERIFY(!store->codableValue<ItemSelection>(QStringLiteral("itemSelection")));

            const auto selection = sampleSelection();
            store->setCodableValue(StoredSelection(selection), QStringLiteral("itemSelection"));
            const auto back = store->codableValue<ItemSelection>(QStringLiteral("itemSelection"));
            QVERIFY(back && back->collection == selection.collection && back->document == selection.document);
        }
    }

    void setAbsentRemovesAndRemoveObjectRemoves()
    {
        for (const auto& store : bothStores()) {
            store->set(42, QStringLiteral("n"));
            QVERIFY(store->object(QStringLiteral("n")).isValid());
            store->set(QVariant(), QStringLiteral("n"));
            QVERIFY(!store->object(QStringLiteral("n")).isValid());
            store->set(QStringLiteral("/teams/a.vantrel"), QStringLiteral("path"));
            store->removeObject(QStringLiteral("path"));
            QVERIFY(!store->string(QStringLiteral("path")));
        }
    }

    void unencodableValueRemovesInUserDefaultsButNotInPreview()
    {
        auto stores = bothStores();
        for (const auto& store : stores) {
            store->set(QByteArray("\"old\""), QStringLiteral("k"));
            store->setCodableValue(std::optional<Unwritable>(Unwritable{}), QStringLiteral("k"));
        }
        QVERIFY(!stores[0]->object(QStringLiteral("k")).isValid());
        QCOMPARE(stores[1]->object(QStringLiteral("k")).toByteArray(), QByteArray("\"old\""));
    }

    void codableAppStorageWritesItsDefaultOnlyWhenMissing()
    {
        for (const auto& store : bothStores()) {
            CodableAppStorage<StoredSelection> fresh(std::nullopt, QStringLiteral("itemSelection"), store);
            QCOMPARE(store->object(QStringLiteral("itemSelection")).toByteArray(), QByteArray("null"));
            QVERIFY(!fresh.value());

            store->set(QByteArray("garbage"), QStringLiteral("other"));
            const auto fallback = sampleSelection();
            CodableAppStorage<StoredSelection> overGarbage(fallback, QStringLiteral("other"), store);
            QCOMPARE(store->object(QStringLiteral("other")).toByteArray(), QByteArray("garbage")); // kept
            QVERIFY(overGarbage.value() && overGarbage.value()->collection == fallback.collection);

            const auto chosen = sampleSelection();
            fresh.setValue(chosen);
            QVERIFY(fresh.value() && fresh.value()->document == chosen.document);
            fresh.setValue(std::nullopt);
            QVERIFY(!fresh.value());
        }
    }

    void userDefaultsPersistAcrossInstances()
    {
        const QString path = m_dir.filePath(QStringLiteral("persist.ini"));
        const auto selection = sampleSelection();
        {
            auto store = std::make_shared<UserDefaultsStorage>(path);
            CodableAppStorage<StoredSelection> stored(std::nullopt, QStringLiteral("itemSelection"), store);
            stored.setValue(selection);
            store->set(QStringLiteral("/Volumes/Share/Team.vantrel"), QStringLiteral("teamBundlePath"));
        }
        auto reopened = std::make_shared<UserDefaultsStorage>(path);
        CodableAppStorage<StoredSelection> stored(std::nullopt, QStringLiteral("itemSelection"), reopened);
        QVERIFY(stored.value() && stored.value()->collection == selection.collection);
        QCOMPARE(reopened->string(QStringLiteral("teamBundlePath")), QStringLiteral("/Volumes/Share/Team.vantrel"));
    }
};

QTEST_GUILESS_MAIN(KeyValueStorageTest)
#include "key_value_storage_test.moc"
