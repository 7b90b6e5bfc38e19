#include "app/url_handler.h"

#include "engine/team_bundle.h"
#include "packages/components/app_info.h"

#include <QFile>
#include <QTest>

using namespace vantrel;

namespace {

const QString collectionId = QStringLiteral("0F5C3E0A-9B1D-4C2E-8F7A-1D2B3C4D5E6F");
const QString documentId = QStringLiteral("A1B2C3D4-E5F6-4789-9ABC-DEF012345678");
const QString eventId = QStringLiteral("11111111-2222-4333-8444-555555555555");

// Every closure call of a handler, in order: "quit", "open <url>", "select <c>|<d>|<e>", "log <line>".
struct Recorder {
    QStringList calls;

    URLHandler handler()
    {
        const auto record = [this](QString call) { return [this, call] { calls.append(call); }; };
        return URLHandler(
            record(QStringLiteral("update")),
            [this](const QUrl& url) { calls.append(QStringLiteral("open ") + url.toString(QUrl::FullyEncoded)); },
            [this](std::optional<ItemSelection> selection) {
                const auto text = [](const auto& id) { return id ? id->toString() : QString(); };
                calls.append(selection ? QStringLiteral("select %1|%2|%3")
                                             .arg(selection->collection.toString(), text(selection->document),
                                                  text(selection->event))
                                       : QStringLiteral("select nothing"));
            },
            record(QStringLiteral("quit")), record(QStringLiteral("restart")),
            [this](const QString& line) { calls.append(QStringLiteral("log ") + line); });
    }
};

QString opened(const QString& path)
{
    return QStringLiteral("open ") + QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

class URLHandlerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void grammar_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QStringList>("calls");
        const QStringList none;
        const QStringList quit{QStringLiteral("quit"), QStringLiteral("log Quit called")};
        const QStringList update{QStringLiteral("update"), QStringLiteral("log Check for updated called")};
        const auto select = [](const QString& ids, const QString& path) {
            return QStringList{QStringLiteral("select ") + ids, QStringLiteral("log Select item called: ") + path};
        };

        QTest::newRow("quit") << "vantrel://quit" << quit;
        QTest::newRow("restart") << "vantrel://restart" << QStringList{"restart", "log Restart called"};
        QTest::newRow("update with path, query and fragment") << "vantrel://update/now?x=1#y" << update;
        QTest::newRow("scheme in capitals") << "VANTREL://update" << update;
        QTest::newRow("host in capitals") << "vantrel://QUIT" << none;
        QTest::newRow("host percent-encoded") << "vantrel://%71uit" << none;
        QTest::newRow("unknown host") << "vantrel://open/x" << none;
        QTest::newRow("no host, path only") << "vantrel:quit" << none;
        QTest::newRow("unparsable") << "vantrel://qu!t" << none;
        QTest::newRow("empty") << "" << none;

        QTest::newRow("select a collection")
            << "vantrel://select/" + collectionId << select(collectionId + "||", "/" + collectionId);
        QTest::newRow("select an event, query ignored")
            << "vantrel://select/" + collectionId + "/" + documentId + "/" + eventId + "?focus=1#x"
            << select(collectionId + "|" + documentId + "|" + eventId,
                      "/" + collectionId + "/" + documentId + "/" + eventId);
        QTest::newRow("select, bad document part") << "vantrel://select/" + collectionId + "/garbage"
                                                   << select(collectionId + "||", "/" + collectionId + "/garbage");
        // A link that names nothing clears the selection.
        QTest::newRow("select, first part not an id")
            << "vantrel://select/not-a-uuid/" + collectionId
            << select(QStringLiteral("nothing"), "/not-a-uuid/" + collectionId);
        QTest::newRow("select, no path") << "vantrel://select" << select(QStringLiteral("nothing"), QString());

        QTest::newRow("file URL") << "file:///tmp/t/Team.vantrelteam" << QStringList{opened("/tmp/t/Team.vantrelteam")};
        QTest::newRow("file URL on localhost, trailing slash")
            << "file://localhost/tmp/t/Team.vantrelteam/" << QStringList{opened("/tmp/t/Team.vantrelteam")};
        QTest::newRow("file URL, query and fragment dropped")
            << "file:///tmp/t/Team.vantrelteam?a=b#c" << QStringList{opened("/tmp/t/Team.vantrelteam")};
        QTest::newRow("file URL, encoded name")
            << "file:///tmp/t/Our%20%23team%25.vantrelteam" << QStringList{opened("/tmp/t/Our #team%.vantrelteam")};
        QTest::newRow("file URL with a host") << "file://server/share/Team.vantrelteam"
                                              << QStringList{opened("/share/Team.vantrelteam")};
        QTest::newRow("file URL whose host is a command, bundle")
            << "file://quit/srv/Alpha%20Team.vantrelteam" << QStringList{opened("/srv/Alpha Team.vantrelteam")};
        QTest::newRow("file URL whose host is a command") << "file://quit/share/notes.txt" << quit;
        QTest::newRow("file URL, extension in capitals") << "file:///tmp/t/Team.VANTRELTEAM" << none;
        QTest::newRow("file URL inside a bundle") << "file:///tmp/t/Team.vantrelteam/journal" << none;
        QTest::newRow("plain absolute path")
            << "/tmp/t/Team.vantrelteam" << QStringList{opened("/tmp/t/Team.vantrelteam")};
        QTest::newRow("plain relative path")
            << "t/../Team.vantrelteam" << QStringList{opened(QDir::current().absoluteFilePath("Team.vantrelteam"))};
        QTest::newRow("web address with the extension")
            << "https://example.com/Team.vantrelteam" << QStringList{opened("/Team.vantrelteam")};
        QTest::newRow("command URL with the extension")
            << "vantrel://quit/Team.vantrelteam" << QStringList{opened("/Team.vantrelteam")};
    }

    void grammar()
    {
        QFETCH(QString, url);
        QFETCH(QStringList, calls);
        Recorder recorder;
        recorder.handler().handle(url);
        QCOMPARE(recorder.calls, calls);
    }

    void parsedURLs()
    {
        Recorder recorder;
        const URLHandler handler = recorder.handler();
        handler.handle(QUrl::fromLocalFile(QStringLiteral("/tmp/a b/Team.vantrelteam")));
        handler.handle(QUrl(QStringLiteral("vantrel://restart")));
        handler.handle(QUrl());
        QCOMPARE(recorder.calls, QStringList({opened("/tmp/a b/Team.vantrelteam"), "restart", "log Restart called"}));
    }

    void emptyClosuresAreSkipped()
    {
        const URLHandler handler({}, {}, {}, {}, {}, {});
        handler.handle(QStringLiteral("vantrel://quit"));
        handler.handle(QStringLiteral("vantrel://select/") + collectionId);
        handler.handle(QStringLiteral("/tmp/Team.vantrelteam"));
    }

    void argumentToURL_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("url");
        QTest::newRow("own scheme") << "vantrel://select/" + collectionId << "vantrel://select/" + collectionId;
        QTest::newRow("own scheme, kept as written") << "VANTREL://QUIT"
                                                     << "VANTREL://QUIT";
        QTest::newRow("file URL") << "file:///srv/Team.vantrelteam"
                                  << "file:///srv/Team.vantrelteam";
        QTest::newRow("absolute path") << "/srv/Team.vantrelteam"
                                       << "file:///srv/Team.vantrelteam";
        QTest::newRow("relative path") << "teams/../Team.vantrelteam"
                                       << "file:///home/ed/Team.vantrelteam";
        QTest::newRow("characters URLs reserve") << "Our #1 100%?.vantrelteam"
                                                 << "file:///home/ed/Our%20%231%20100%25%3F.vantrelteam";
        QTest::newRow("other scheme is a path") << "https://example.com/x"
                                                << "file:///home/ed/https:/example.com/x";
        QTest::newRow("empty") << ""
                               << "";
    }

    void argumentToURL()
    {
        QFETCH(QString, argument);
        QFETCH(QString, url);
        QCOMPARE(URLHandler::urlFromArgument(argument, QStringLiteral("vantrel"), QStringLiteral("/home/ed")), url);
    }

    // The desktop entry and the type declaration name what the program and the engine use.
    void packagingMatchesTheProgram()
    {
        QFile entryFile(QStringLiteral(VANTREL_SOURCE_DIR "/packaging/vantrel.desktop"));
        QFile typesFile(QStringLiteral(VANTREL_SOURCE_DIR "/packaging/vantrel-team.xml"));
        QVERIFY(entryFile.open(QIODevice::ReadOnly) && typesFile.open(QIODevice::ReadOnly));
        const QStringList entry = QString::fromUtf8(entryFile.readAll()).split(u'\n');
        const QString types = QString::fromUtf8(typesFile.readAll());

        const auto scheme = AppInfo::fromInformation(AppInfo::applicationInformation())->urlScheme();
        QVERIFY(scheme);
        QVERIFY(entry.contains(QStringLiteral("Exec=vantrel %u")));
        QVERIFY(
            entry.contains(QStringLiteral("MimeType=x-scheme-handler/%1;%2;").arg(*scheme, TeamBundle::contentType)));
        QVERIFY(types.contains(QStringLiteral("<mime-type type=\"%1\">").arg(TeamBundle::contentType)));
        QVERIFY(types.contains(QStringLiteral("<glob pattern=\"*.%1\"").arg(TeamBundle::fileExtension)));
    }
};

QTEST_MAIN(URLHandlerTest)
#include "url_handler_test.moc"
