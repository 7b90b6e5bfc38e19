// `cmake --install` into a temporary prefix: the program, a desktop entry that hands links of the
// program's own scheme and team bundles to it, the icon at every size of the theme, and a type of
// team bundles that agrees with the engine; the desktop's own checkers are run where installed.

#include "engine/team_bundle.h"
#include "packages/components/app_info.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace vantrel;

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return {-1, QStringLiteral("%1 did not end: %2").arg(program, process.errorString())};
    const QString output = QString::fromLocal8Bit(process.readAll());
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, output};
}

Run install(const QString& prefix, const QString& destdir = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DESTDIR"));
    if (!destdir.isEmpty())
        environment.insert(QStringLiteral("DESTDIR"), destdir);
    return run(QStringLiteral(VANTREL_CMAKE),
               {QStringLiteral("--install"), QStringLiteral(VANTREL_BUILD_DIR), QStringLiteral("--prefix"), prefix},
               environment);
}

// The keys of the [Desktop Entry] group of a desktop entry file.
QMap<QString, QString> desktopEntry(const QString& path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QStringLiteral("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.section(QLatin1Char('='), 0, 0).trimmed(), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

struct MimeType {
    QString name;
    QStringList parents;
    QStringList globs;
};

QList<MimeType> mimeTypes(const QString& path)
{
    QList<MimeType> types;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return types;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attribute = [&](const char* name) { return xml.attributes().value(QLatin1String(name)).toString(); };
        if (xml.name() == QLatin1String("mime-type"))
            types.append({attribute("type"), {}, {}});
        else if (xml.name() == QLatin1String("sub-class-of") && !types.isEmpty())
            types.last().parents << attribute("type");
        else if (xml.name() == QLatin1String("glob") && !types.isEmpty())
            types.last().globs << attribute("pattern");
    }
    return xml.hasError() ? QList<MimeType>() : types;
}

QString contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installsTheProgramAndWhatTheDesktopNeedsToKnowOfIt()
    {
        QTemporaryDir prefix;
        const Run installed = install(prefix.path());
        QVERIFY2(installed.exitCode == 0, qPrintable(installed.output));
        const QDir root(prefix.path());

        const QFileInfo program(root.filePath(QStringLiteral("bin/vantrel")));
        QVERIFY(program.isFile() && program.isExecutable());

        // The team bundle type: a folder of its own type, named by the engine's extension.
        const QString mimePath = root.filePath(QStringLiteral("share/mime/packages/vantrel-team.xml"));
        const QList<MimeType> types = mimeTypes(mimePath);
        QCOMPARE(types.size(), 1);
        const MimeType team = types.first();
        QVERIFY(!team.name.isEmpty());
        QCOMPARE(team.parents, QStringList{QStringLiteral("inode/directory")});
        QCOMPARE(team.globs, QStringList{QStringLiteral("*.") + TeamBundle::fileExtension});

        // The desktop entry starts the installed program with the link or the bundle it is handed.
        const QString entryPath = root.filePath(QStringLiteral("share/applications/vantrel.desktop"));
        const auto entry = desktopEntry(entryPath);
        QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
        const QStringList exec = entry.value(QStringLiteral("Exec")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(exec.value(0), program.fileName());
        QVERIFY(exec.contains(QStringLiteral("%u")) || exec.contains(QStringLiteral("%U")));
        const QStringList handled = entry.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QVERIFY(AppInfo::shared().urlScheme().has_value());
        QVERIFY(handled.contains(QStringLiteral("x-scheme-handler/") + *AppInfo::shared().urlScheme()));
        QVERIFY(handled.contains(team.name));

        // Its icon, by the name the entry gives: the SVG, and PNGs of their own sizes, drawn.
        const QString icon = entry.value(QStringLiteral("Icon"));
        QVERIFY(!icon.isEmpty() && !icon.contains(QLatin1Char('/')));
        const QDir hicolor(root.filePath(QStringLiteral("share/icons/hicolor")));
        QVERIFY(QSvgRenderer(hicolor.filePath(QStringLiteral("scalable/apps/%1.svg").arg(icon))).isValid());
        int sizes = 0;
        for (const QString& folder : hicolor.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (folder == QStringLiteral("scalable"))
                continue;
            const int size = folder.section(QLatin1Char('x'), 0, 0).toInt();
            QCOMPARE(folder, QStringLiteral("%1x%1").arg(size));
            const QImage image(hicolor.filePath(QStringLiteral("%1/apps/%2.png").arg(folder, icon)));
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(qAlpha(image.pixel(size / 2, size / 2)) == 255); // the tile, not a blank square
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);                  // with its rounded corners
            ++sizes;
        }
        QVERIFY(sizes >= 4);

        // The desktop's own checkers, where installed.
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validate.isEmpty()) {
            const Run checked = run(validate, {entryPath}, environment);
            QVERIFY2(checked.exitCode == 0 && checked.output.trimmed().isEmpty(), qPrintable(checked.output));
        }
        const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
        if (!xmllint.isEmpty()) {
            const Run checked = run(xmllint, {QStringLiteral("--noout"), mimePath}, environment);
            QVERIFY2(checked.exitCode == 0, qPrintable(checked.output));
        }
        // Installed in place, the desktop's databases know the type and the link handler.
        if (!QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty()) {
            const QString globs = contentOf(root.filePath(QStringLiteral("share/mime/globs2")));
            QVERIFY2(globs.contains(team.name + QStringLiteral(":*.") + TeamBundle::fileExtension), qPrintable(globs));
        }
        if (!QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty()) {
            const QString cache = contentOf(root.filePath(QStringLiteral("share/applications/mimeinfo.cache")));
            QVERIFY2(cache.contains(
                         QStringLiteral("x-scheme-handler/%1=vantrel.desktop").arg(*AppInfo::shared().urlScheme())),
                     qPrintable(cache));
        }
    }
};

QTEST_MAIN(InstallTest)
#include "install_test.moc"
