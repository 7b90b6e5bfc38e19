#include "desktop/application_locator.h"
#include "desktop/system_services.h"
#include "engine/document_application.h"
#include "engine/document_type.h"
#include "foundation/json_coding.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <unordered_set>

using namespace vantrel;

namespace {

DocumentType::Custom storyboard(std::optional<QString> groupName)
{
    return {QStringLiteral("team.storyboard"),
            QStringLiteral("Storyboard"),
            {QStringLiteral("sbd")},
            true,
            std::move(groupName)};
}

// One of every case, in case order.
QList<DocumentType> everyCase()
{
    return {DocumentType::unknown(QStringLiteral("mp4")),
            DocumentType::custom(storyboard(QStringLiteral("Boards"))),
            DocumentType::collection(),
            DocumentType::library(),
            DocumentType::event(),
            DocumentType::kdenliveProject(),
            DocumentType::subtitles(),
            DocumentType::textDocument(),
            DocumentType::pdfDocument(),
            DocumentType::blenderProject(),
            DocumentType::ardourSession(),
            DocumentType::resolveArchive(),
            DocumentType::kritaBundle(),
            DocumentType::kdenliveTitle()};
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

QByteArray desktopEntry(const QByteArray& name, const QByteArray& mimeTypes, const QByteArray& extra = {})
{
    return "# comment\n[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name.toLower()
           + " %F\nMimeType=" + mimeTypes + "\n" + extra + "\n[Desktop Action new]\nName=Ignored\n";
}

DocumentApplication application(std::optional<QString> writer, std::optional<QString> installedVersion,
                                bool installed = true)
{
    DocumentApplication app = DocumentApplication::empty(DocumentType::kdenliveProject());
    app.writerVersion = std::move(writer);
    if (installed)
        app.installed = InstalledApplication{QStringLiteral("Kdenlive"), std::move(installedVersion),
                                             QStringLiteral("org.kde.kdenlive.desktop")};
    return app;
}

} // namespace

class DocumentTypeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void casesKeepTheirOrderAndExtensionsMapBack()
    {
        const QList<DocumentType> types = everyCase();
        for (int index = 0; index < types.size(); ++index)
            QCOMPARE(int(types[index].kind()), index);

        QSet<QString> identifiers;
        QSet<QString> extensions;
        for (const DocumentType& type : types.mid(2)) {
            identifiers.insert(type.identifier());
            QVERIFY(!type.description().isEmpty() && !type.shortDescription().isEmpty());
            QVERIFY(!type.multipliedShortDescription().isEmpty() && !type.iconName().isEmpty());
            for (const QString& extension : type.fileExtensions()) {
                QCOMPARE(extension, extension.toLower());
                QVERIFY2(!extensions.contains(extension), qPrintable(extension));
                extensions.insert(extension);
                QCOMPARE(DocumentType::fromFileExtension(extension), type);
            }
        }
        QCOMPARE(identifiers.size(), types.size() - 2);
        QVERIFY(DocumentType::collection().fileExtensions().isEmpty());
        QVERIFY(DocumentType::library().isPackage() && DocumentType::event().isPackage());
        QVERIFY(DocumentType::resolveArchive().isPackage() && !DocumentType::kdenliveProject().isPackage());
        QCOMPARE(DocumentType::library().preferredExtension(), QStringLiteral("videolibrary"));
        QVERIFY(DocumentType::collection().isCollection() && DocumentType::library().isLibrary()
                && DocumentType::event().isEvent() && !DocumentType::library().isEvent());
    }

    void extensionLookupIgnoresCaseAndKeepsUnknownOnes()
    {
        QCOMPARE(DocumentType::fromFileExtension(QStringLiteral("KdenLive")), DocumentType::kdenliveProject());
        QCOMPARE(DocumentType::fromFileExtension(QStringLiteral("SRT")), DocumentType::subtitles());
        QCOMPARE(DocumentType::forPath(QStringLiteral("/share/Cut.final/Trip.VideoLibrary/")), DocumentType::library());
        QCOMPARE(DocumentType::forPath(QStringLiteral("/share/scene.tar.blend")), DocumentType::blenderProject());

        const DocumentType clip = DocumentType::fromFileExtension(QStringLiteral("MP4"));
        QCOMPARE(clip.kind(), DocumentType::Case::unknown);
        QCOMPARE(clip.unknownExtension(), QStringLiteral("mp4"));
        QCOMPARE(clip, DocumentType::unknown(QStringLiteral("mp4")));
        QCOMPARE(DocumentType::forPath(QStringLiteral("/share/v1.2/README")), DocumentType::unknown(QString()));
        QCOMPARE(DocumentType::fromFileExtension(QString()), DocumentType());
        // Types defined by the team are never guessed from an extension.
        QCOMPARE(DocumentType::fromFileExtension(QStringLiteral("sbd")).kind(), DocumentType::Case::unknown);
    }

    void valuesHashAndCompareByPayload()
    {
        const DocumentType boards = DocumentType::custom(storyboard(QStringLiteral("Boards")));
        QVERIFY(boards != DocumentType::custom(storyboard(std::nullopt)));
        QCOMPARE(boards.identifier(), QStringLiteral("team.storyboard"));
        QCOMPARE(boards.iconName(), QStringLiteral("package-x-generic"));

        const QList<DocumentType> types = everyCase();
        QSet<DocumentType> set(types.begin(), types.end());
        set.insert(DocumentType::unknown(QStringLiteral("MP4")));
        QCOMPARE(set.size(), 14);
        std::unordered_set<DocumentType> standard{DocumentType::library(), DocumentType::library(),
                                                  DocumentType::event()};
        QCOMPARE(standard.size(), size_t(2));
    }

    void everyCaseSurvivesJson()
    {
        QList<DocumentType> types = everyCase();
        types << DocumentType::custom(storyboard(std::nullopt)) << DocumentType::unknown(QString());
        for (const DocumentType& type : types)
            QCOMPARE(decodeJson<DocumentType>(encodeJson(type)), type);
        QCOMPARE(DocumentType::library().toJson(), QJsonValue(QJsonObject{{"type", "library"}}));
        QCOMPARE(DocumentType::unknown(QStringLiteral("mp4")).toJson(),
                 QJsonValue(QJsonObject{{"type", "unknown"}, {"extension", "mp4"}}));
        QCOMPARE(DocumentType::custom(storyboard(std::nullopt)).toJson()[QLatin1String("type")],
                 QJsonValue(QStringLiteral("custom")));
    }

    void futureIdentifiersReadAsUnknownAndMalformedDataFails()
    {
        QCOMPARE(decodeJson<DocumentType>(R"({"type":"holographicScene","layers":3})"),
                 DocumentType::unknown(QString()));

        for (const QByteArray& text : QList<QByteArray>{
                 "\"library\"",
                 "[]",
                 "{}",
                 R"({"type":7})",
                 R"({"type":"unknown"})",
                 R"({"type":"custom","identifier":"x","name":"X","fileExtensions":"x","isPackage":false})",
                 R"({"type":"custom","identifier":"x","fileExtensions":[],"isPackage":false})",
                 R"({"type":"custom","identifier":"x","name":"X","fileExtensions":[1],"isPackage":false})",
                 R"({"type":"custom","identifier":"x","name":"X","fileExtensions":[],"isPackage":"no"})",
                 R"({"type":"custom","identifier":"x","name":"X","fileExtensions":[],"isPackage":true,"groupName":4})",
             }) {
            QVERIFY_THROWS_EXCEPTION(DecodingError, decodeJson<DocumentType>(text));
        }
    }

    void nestingRules()
    {
        const DocumentType collection = DocumentType::collection();
        const DocumentType library = DocumentType::library();
        QVERIFY(collection.allowsNesting() && library.allowsNesting());
        QVERIFY(!DocumentType::event().allowsNesting() && !DocumentType::resolveArchive().allowsNesting());

        QVERIFY(collection.canNest(library));
        QVERIFY(collection.canNest(DocumentType::unknown(QStringLiteral("mp4"))));
        QVERIFY(collection.canNest(DocumentType::unknown(QString())));
        QVERIFY(collection.canNest(DocumentType::custom(storyboard(std::nullopt))));
        QVERIFY(collection.canNest(DocumentType::kdenliveTitle()));
        QVERIFY(!collection.canNest(collection));
        QVERIFY(!collection.canNest(DocumentType::event()));
        QVERIFY(library.canNest(DocumentType::event()));
        QVERIFY(!library.canNest(DocumentType::kdenliveProject()) && !library.canNest(library));
        QVERIFY(!DocumentType::kdenliveProject().canNest(DocumentType::event()));

        const QList<DocumentType> inCollection = collection.nestableDocumentTypes();
        QCOMPARE(inCollection.size(), 10);
        QCOMPARE(inCollection.first(), library);
        for (const DocumentType& type : inCollection)
            QVERIFY(collection.canNest(type));
        QCOMPARE(library.nestableDocumentTypes(), QList<DocumentType>{DocumentType::event()});
        QVERIFY(DocumentType::event().nestableDocumentTypes().isEmpty());

        const QList<DocumentType::ContentType> offered = collection.allowedContentTypes();
        QCOMPARE(offered.size(), inCollection.size());
        const DocumentType::ContentType libraryContent{
            QStringLiteral("library"), {QStringLiteral("inode/directory")}, {QStringLiteral("videolibrary")}, true};
        QCOMPARE(offered.first(), libraryContent);
        QCOMPARE(library.allowedContentTypes().size(), 1);
        QCOMPARE(library.allowedContentTypes().first().extensions, QStringList{QStringLiteral("videoevent")});
        QVERIFY(DocumentType::pdfDocument().allowedContentTypes().isEmpty());

        QCOMPARE(collection.nestedItemsLimit(library), std::numeric_limits<int>::max());
        QCOMPARE(library.nestedItemsLimit(DocumentType::event()), std::numeric_limits<int>::max());
        QCOMPARE(library.nestedItemsLimit(DocumentType::pdfDocument()), 0);
        QCOMPARE(DocumentType::pdfDocument().nestedItemsLimit(DocumentType::event()), 0);
    }

    void upgradeNeededOnlyWhenTheInstalledVersionIsNewer()
    {
        QVERIFY(application(QStringLiteral("23.08.4"), QStringLiteral("24.02.1")).itemUpdateNeeded());
        QVERIFY(application(QStringLiteral("9.1"), QStringLiteral("10.0")).itemUpdateNeeded());
        QVERIFY(application(QStringLiteral("2.79"), QStringLiteral("2.80")).itemUpdateNeeded());
        QVERIFY(application(QStringLiteral("5.10-525-ga1"), QStringLiteral("5.12")).itemUpdateNeeded());
        QVERIFY(application(QStringLiteral("8.0beta"), QStringLiteral("8.0rc")).itemUpdateNeeded());
        QVERIFY(!application(QStringLiteral("24.02.1"), QStringLiteral("23.08.4")).itemUpdateNeeded());
        QVERIFY(!application(QStringLiteral("24.02.1"), QStringLiteral("24.02.1")).itemUpdateNeeded());
        QVERIFY(!application(QStringLiteral("24.02"), QStringLiteral("024.2.3")).itemUpdateNeeded());
        QVERIFY(!application(QStringLiteral("4.2"), QStringLiteral("4.2.1")).itemUpdateNeeded());
        QVERIFY(!application(std::nullopt, QStringLiteral("24.02.1")).itemUpdateNeeded());
        QVERIFY(!application(QStringLiteral("23.08.4"), std::nullopt).itemUpdateNeeded());
        QVERIFY(!application(QStringLiteral("23.08.4"), std::nullopt, false).itemUpdateNeeded());
    }

    void incompatibleVersionIsTheWriterVersionUnlessItMatches()
    {
        const auto v = [](const char* text) { return std::optional<QString>(QString::fromLatin1(text)); };
        QCOMPARE(application(v("23.08.4"), v("24.02.1")).incompatibleVersion(), v("23.08.4"));
        QCOMPARE(application(v("24.02.1"), v("23.08.4")).incompatibleVersion(), v("24.02.1"));
        QCOMPARE(application(v("24.02.1"), v("24.02.1")).incompatibleVersion(), std::nullopt);
        QCOMPARE(application(std::nullopt, v("24.02.1")).incompatibleVersion(), std::nullopt);
        // Nothing known of what is installed: the writer's version is shown.
        QCOMPARE(application(v("24.02.1"), std::nullopt).incompatibleVersion(), v("24.02.1"));
        QCOMPARE(application(v("24.02.1"), std::nullopt, false).incompatibleVersion(), v("24.02.1"));
    }

    void applicationRecordsAndJson()
    {
        const DocumentApplication empty = DocumentApplication::empty(DocumentType::blenderProject());
        QCOMPARE(empty.name, std::optional<QString>(QStringLiteral("Blender")));
        QVERIFY(!empty.isInstalled() && !empty.writerVersion);
        const DocumentApplication none = DocumentApplication::none();
        QCOMPARE(none.documentType, DocumentType::unknown(QString()));
        QVERIFY(!none.name && !none.isInstalled());

        const DocumentApplication full = application(QStringLiteral("23.08.4"), QStringLiteral("24.02.1"));
        QVERIFY(full.isInstalled());
        for (const DocumentApplication& app : {empty, none, full, application(QStringLiteral("1"), std::nullopt)})
            QCOMPARE(decodeJson<DocumentApplication>(encodeJson(app)), app);
        QVERIFY_THROWS_EXCEPTION(DecodingError, decodeJson<DocumentApplication>(R"({"name":"Kdenlive"})"));
        QVERIFY_THROWS_EXCEPTION(DecodingError,
                                 decodeJson<DocumentApplication>(R"({"documentType":{"type":"event"},"installed":3})"));
    }

    void locatorReadsDesktopEntries()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString user = root.filePath(QStringLiteral("home/applications"));
        const QString system = root.filePath(QStringLiteral("usr/applications"));
        writeFile(system + QStringLiteral("/org.kde.kdenlive.desktop"),
                  desktopEntry("Kdenlive", "video/mp4;application/x-kdenlive;", "X-Vantrel-Version=23.08.4"));
        writeFile(user + QStringLiteral("/org.kde.kdenlive.desktop"),
                  desktopEntry("Kdenlive\\sNightly", "application/x-kdenlive;", "X-Vantrel-Version = 24.12.0"));
        writeFile(system + QStringLiteral("/blender.desktop"), desktopEntry("Blender", "application/x-blender;"));
        writeFile(user + QStringLiteral("/blender.desktop"), "[Desktop Entry]\nType=Application\nHidden=true\n");
        writeFile(system + QStringLiteral("/gaupol.desktop"),
                  desktopEntry("Gaupol", "text/x-ssa;", "Hidden=true\nX-Vantrel-Version=1.12"));
        writeFile(system + QStringLiteral("/subs/editor.desktop"),
                  desktopEntry("Subtitle Composer", "text/vtt;application/x-subrip;", "NoDisplay=true"));
        writeFile(system + QStringLiteral("/aegisub.desktop"), desktopEntry("Aegisub", "text/x-ssa;"));
        writeFile(system + QStringLiteral("/files.desktop"), desktopEntry("Files", "inode/directory;"));
        writeFile(system + QStringLiteral("/link.desktop"),
                  "[Desktop Entry]\nType=Link\nName=Site\nURL=x\nMimeType=application/pdf;\n");
        writeFile(system + QStringLiteral("/viewer.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer\n[Other]\nMimeType=application/pdf;\n");

        ApplicationLocator locator({user, system});
        // The user's entry hides the system's one with the same id.
        const auto kdenlive = locator.find(DocumentType::kdenliveProject().mimeTypes());
        QVERIFY(kdenlive);
        QCOMPARE(kdenlive->name, QStringLiteral("Kdenlive Nightly"));
        QCOMPARE(kdenlive->version, std::optional<QString>(QStringLiteral("24.12.0")));
        QCOMPARE(kdenlive->desktopEntryId, QStringLiteral("org.kde.kdenlive.desktop"));
        // A hidden entry of the user removes the system's entry; a hidden system entry counts for nothing.
        QCOMPARE(locator.find(DocumentType::blenderProject().mimeTypes()), std::nullopt);
        // application/x-subrip is matched before text/x-ssa by the order of the type's MIME types.
        const auto subtitles = locator.find(DocumentType::subtitles().mimeTypes());
        QVERIFY(subtitles);
        QCOMPARE(subtitles->desktopEntryId, QStringLiteral("subs-editor.desktop"));
        QCOMPARE(subtitles->version, std::nullopt);
        QCOMPARE(locator.find(DocumentType::library().mimeTypes())->name, QStringLiteral("Files"));
        // Links and keys outside [Desktop Entry] do not count.
        QCOMPARE(locator.find(DocumentType::pdfDocument().mimeTypes()), std::nullopt);
        QCOMPARE(locator.find(DocumentType::custom(storyboard(std::nullopt)).mimeTypes())->name,
                 QStringLiteral("Files"));
        QCOMPARE(locator.find(DocumentType::unknown(QString()).mimeTypes()), std::nullopt);
        // A custom type of files opens as the MIME database knows its extensions.
        const DocumentType cues = DocumentType::custom({QStringLiteral("team.cues"), QStringLiteral("Cues"),
                                                        {QStringLiteral("ssa")}, false, std::nullopt});
        const auto cueEditor = locator.find(cues.mimeTypes());
        QVERIFY(cueEditor);
        QCOMPARE(cueEditor->name, QStringLiteral("Aegisub"));

        // Results are kept until reload().
        QVERIFY(QFile::remove(user + QStringLiteral("/org.kde.kdenlive.desktop")));
        QCOMPARE(locator.find(DocumentType::kdenliveProject().mimeTypes())->name, QStringLiteral("Kdenlive Nightly"));
        locator.reload();
        QCOMPARE(locator.find(DocumentType::kdenliveProject().mimeTypes())->version,
                 std::optional<QString>(QStringLiteral("23.08.4")));
    }

    void writerVersionsReadFromTheStartOfTheFile()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const auto sample = [&](const QString& name, const QByteArray& contents) {
            const QString path = root.filePath(name);
            writeFile(path, contents);
            return path;
        };
        const auto version = [](const char* text) { return std::optional<QString>(QString::fromLatin1(text)); };
        const QByteArray project = R"(<?xml version='1.0' encoding='utf-8'?>
<mlt LC_NUMERIC="C" producer="main_bin" version="7.22.0" root="/home/ana/trip">
 <profile width="1920" height="1080" frame_rate_num="25" frame_rate_den="1"/>
 <producer id="producer0"><property name="resource">clips/a.mp4</property></producer>
 <playlist id="main_bin">
  <property name="kdenlive:docproperties.version">1.1</property>
  <property name="kdenlive:docproperties.kdenliveversion">24.02.1</property>
 </playlist>
</mlt>
)";
        const auto kdenlive = DocumentType::kdenliveProject();
        QCOMPARE(readWriterVersion(kdenlive, sample("trip.kdenlive", project)), version("24.02.1"));
        QCOMPARE(readWriterVersion(kdenlive, sample("old.kdenlive",
                                                    R"(<westley><kdenlivedoc version="0.88" kdenliveversion="0.9.10">)"
                                                    R"(</kdenlivedoc></westley>)")),
                 version("0.9.10"));
        // Too far in, or cut off at the limit.
        const QByteArray filler = "<!--" + QByteArray(64 * 1024, 'x') + "-->";
        const qsizetype rootAt = project.indexOf("<mlt");
        QCOMPARE(readWriterVersion(kdenlive, sample("long.kdenlive", QByteArray(project).insert(rootAt, filler))),
                 std::nullopt);
        const QByteArray padding(64 * 1024 - project.indexOf("24.02.1") - 3, '\n');
        QCOMPARE(readWriterVersion(kdenlive, sample("cut.kdenlive", QByteArray(project).insert(rootAt, padding))),
                 std::nullopt);
        QCOMPARE(
            readWriterVersion(kdenlive, sample("fits.kdenlive", QByteArray(project).insert(rootAt, padding.mid(20)))),
            version("24.02.1"));
        // The format decides, not the content.
        QCOMPARE(readWriterVersion(DocumentType::kdenliveTitle(), sample("title.kdenlivetitle", project)),
                 std::nullopt);

        const QByteArray session = R"(<?xml version="1.0" encoding="UTF-8"?>
<Session version="7003" name="mix" sample-rate="48000">
  <ProgramVersion created-with="Ardour 7.5.0" modified-with="Ardour 8.4.0"/>
  <MIDIPorts/>
</Session>
)";
        QCOMPARE(readWriterVersion(DocumentType::ardourSession(), sample("mix.ardour", session)), version("8.4.0"));

        const auto blender = DocumentType::blenderProject();
        QCOMPARE(readWriterVersion(blender, sample("a.blend", QByteArray("BLENDER-v402REND") + QByteArray(64, '\0'))),
                 version("4.2"));
        QCOMPARE(readWriterVersion(blender, sample("b.blend", "BLENDER_V279")), version("2.79"));
        QCOMPARE(readWriterVersion(blender, sample("c.blend", "\x28\xb5\x2f\xfd compressed")), std::nullopt);
        QCOMPARE(readWriterVersion(blender, sample("d.blend", "BLENDER-v4")), std::nullopt);

        QCOMPARE(readWriterVersion(kdenlive, root.filePath("missing.kdenlive")), std::nullopt);
        QCOMPARE(readWriterVersion(kdenlive, root.path()), std::nullopt);
    }

    void theDesktopOpensAFileAsItsTypeSays()
    {
        const FileKind project = fileKindOf(QStringLiteral("/work/Cut.KDENLIVE"));
        QVERIFY(project.known);
        QCOMPARE(project.mimeTypes, QStringList{QStringLiteral("application/x-kdenlive")});
        const FileKind library = fileKindOf(QStringLiteral("/work/Trip.videolibrary/"));
        QVERIFY(library.known);
        QCOMPARE(library.mimeTypes, QStringList{QStringLiteral("inode/directory")});
        // What the table does not know, the desktop recognises by the file's name and contents.
        QVERIFY(!fileKindOf(QStringLiteral("/work/notes")).known);
        QVERIFY(!fileKindOf(QStringLiteral("/work/Cut.kdenlive.part")).known);
    }
};

QTEST_GUILESS_MAIN(DocumentTypeTest)
#include "document_type_test.moc"
