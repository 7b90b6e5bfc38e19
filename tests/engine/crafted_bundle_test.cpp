// A teammate can write any record into a team bundle. Names, extensions, event folders and the
// bundle's own id are data: whatever they hold, nothing is written outside the folder the user
// chose (an export, a copy) or the client's own folders (working copies).

#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

Service open(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type, const IdFor<VersionBundle>& id)
{
    return syncWait(
        VersioningService::open(type, id, std::nullopt, std::nullopt, team, nullptr, nullptr, defaultS3Factory()));
}

QJsonObject versionOf(const std::shared_ptr<TeamBundle>& team, const Service& like)
{
    return QJsonObject{
        {QStringLiteral("version"), IdFor<Versions>::make().toString()},
        {QStringLiteral("manifest"), team->snapshot()->find(like->id())->currentVersion()->manifest.toHex()},
        {QStringLiteral("message"), QString()},
        {QStringLiteral("origin"), QStringLiteral("imported")}};
}

// Every path below `root` whose name contains `marker`.
QStringList pathsNamed(const QString& root, const QString& marker)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName().contains(marker))
            found << path;
    }
    return found;
}

} // namespace

class CraftedBundleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void namesAndExtensionsAreOnePlainName()
    {
        QCOMPARE(safeExtension(QStringLiteral("kdenlive")), QStringLiteral("kdenlive"));
        QCOMPARE(safeExtension(QStringLiteral(".txt")), QStringLiteral("txt"));
        for (const QString& hostile :
             {QStringLiteral("/../../.local/bin/ls"), QStringLiteral(".."), QStringLiteral("a/b"),
              QStringLiteral("x\ny"), QStringLiteral("\\..\\x"), QString(500, u'e')}) {
            const QString name = uniqueFileName(QString(), QStringLiteral("../Cut"), hostile);
            QVERIFY2(!name.contains(u'/') && !name.contains(u'\n') && !name.startsWith(u'.'), qPrintable(name));
            QVERIFY(name.toUtf8().size() < 255);
        }
        QCOMPARE(uniqueFileName(QString(), QStringLiteral("Cut"), QStringLiteral("..")), QStringLiteral("Cut"));
    }

    void aTeamIdThatIsNotAnIdIsRefused()
    {
        TeamFixture fixture;
        const QString marker = fixture.root() + QStringLiteral("/team.json");
        for (const char* id : {"../../../home/victim", "/tmp/elsewhere", "", "00000000-0000-0000-0000-000000000000"}) {
            QFile::remove(marker);
            writeFile(marker, QJsonDocument(QJsonObject{{QStringLiteral("format"), TeamBundle::currentFormat},
                                                        {QStringLiteral("id"), QString::fromLatin1(id)}})
                                  .toJson());
            try {
                fixture.client(QString::fromLatin1(id).isEmpty()
                                   ? QStringLiteral("empty")
                                   : QStringLiteral("c%1").arg(qHash(QString::fromLatin1(id))));
                QFAIL(id);
            } catch (const TeamBundleError& error) {
                QCOMPARE(error.kind(), TeamBundleError::Case::unreadable);
            }
        }
    }

    // A document whose recorded extension climbs out of the folder, and events whose recorded
    // folders do, or that meet a link the library package holds.
    void recordedPathsNeverLeaveTheDestination()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString outside = fixture.scratch(QStringLiteral("outside"));
        const QString library = fixture.scratch(QStringLiteral("src")) + QStringLiteral("/Feature.videolibrary");
        writeFile(library + QStringLiteral("/Settings.plist"), "library settings");
        writeFile(library + QStringLiteral("/Cut.videoevent/Edit.fcp"), "cut");
        QVERIFY(QFile::link(outside, library + QStringLiteral("/Link.videoevent")));
        const auto feature = importInto(ana, library);
        const auto cutId = ana->snapshot()->find(feature->id())->children.first();
        const auto cut = open(ana, VersioningServiceType::event, cutId);

        // What a hostile teammate writes: three events and a document, each with a path in it.
        const QString escape = QStringLiteral("../../../../../../escaped");
        std::vector<JournalChange> changes;
        const QList<std::pair<QString, QString>> events{
            {QStringLiteral("Link"), QStringLiteral("Link.videoevent")},
            {QStringLiteral("escaped"), escape + QStringLiteral(".videoevent")},
            {QStringLiteral("Abs"), outside + QStringLiteral("/abs.videoevent")}};
        for (const auto& [name, folder] : events) {
            const auto id = IdFor<VersionBundle>::make();
            changes.push_back({id,
                               RecordKind::create,
                               {{QStringLiteral("type"), DocumentType::event().toJson()},
                                {QStringLiteral("name"), name},
                                {QStringLiteral("extension"), QStringLiteral("videoevent")},
                                {QStringLiteral("folder"), folder}}});
            changes.push_back({id, RecordKind::version, versionOf(ana, cut)});
            changes.push_back({feature->id(), RecordKind::nest, {{QStringLiteral("child"), id.toString()}}});
        }
        const auto document = IdFor<VersionBundle>::make();
        const QString source = fixture.scratch(QStringLiteral("doc")) + QStringLiteral("/Notes.txt");
        writeFile(source, "notes");
        const auto notes = importInto(ana, source);
        changes.push_back({document,
                           RecordKind::create,
                           {{QStringLiteral("type"), DocumentType::textDocument().toJson()},
                            {QStringLiteral("name"), QStringLiteral("..")},
                            {QStringLiteral("extension"), escape}}});
        changes.push_back({document, RecordKind::version, versionOf(ana, notes)});
        ana->commit(changes);

        const auto crafted = open(ana, VersioningServiceType::document, document);
        const QString exports = fixture.scratch(QStringLiteral("exports"));
        const QString exportedNotes = syncWait(crafted->exportVersion(std::nullopt, exports, defaultS3Factory()));
        QCOMPARE(QFileInfo(exportedNotes).path(), exports);
        const QString workingCopy = syncWait(crafted->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        QVERIFY(workingCopy.startsWith(ana->localFolder(QStringLiteral("working")) + QLatin1Char('/')));
        QVERIFY(!QFileInfo(workingCopy).fileName().contains(u'/'));

        const QString exportedLibrary = syncWait(feature->exportVersion(std::nullopt, exports, defaultS3Factory()));
        syncWait(feature->buildCopy(std::nullopt, std::nullopt, defaultS3Factory()));
        syncWait(
            feature->checkOut(ana->snapshot()->find(feature->id())->children, {.autoSave = false}, defaultS3Factory()));

        QVERIFY(
            QDir(outside).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty());
        QVERIFY(QFileInfo(exportedLibrary + QStringLiteral("/Link.videoevent")).isSymLink());
        QCOMPARE(describeTree(exportedLibrary + QStringLiteral("/Link 2.videoevent")).value(QStringLiteral("Edit.fcp")),
                 "cut");
        QVERIFY(QFileInfo::exists(exportedLibrary + QStringLiteral("/escaped.videoevent/Edit.fcp")));
        QVERIFY(QFileInfo::exists(exportedLibrary + QStringLiteral("/Abs.videoevent/Edit.fcp")));
        // Nothing named after the escapes exists anywhere but inside the destinations.
        const QString everything = QFileInfo(fixture.root()).path();
        for (const QString& path : pathsNamed(everything, QStringLiteral("escaped"))) {
            QVERIFY2(path.startsWith(exports + QLatin1Char('/'))
                         || path.startsWith(ana->localFolder(QStringLiteral("working")))
                         || path.startsWith(ana->localFolder(QStringLiteral("copies")))
                         || path.startsWith(fixture.root()),
                     qPrintable(path));
        }
        QVERIFY(!QFileInfo::exists(everything + QStringLiteral("/escaped.videoevent")));
        QVERIFY(!QFileInfo::exists(QFileInfo(everything).path() + QStringLiteral("/escaped.videoevent")));
    }
};

QTEST_GUILESS_MAIN(CraftedBundleTest)
#include "crafted_bundle_test.moc"
