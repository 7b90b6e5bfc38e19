// Every include of our sources points down the layers that cmake/layers.txt lists.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Folder -> the folders its files may include, itself and everything below it included.
using Layers = QHash<QString, QSet<QString>>;

Layers readLayers(const QString& path, QStringList* problems)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        problems->append(path + QStringLiteral(": cannot be read"));
        return {};
    }
    Layers layers;
    int number = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString folder = line.left(colon).trimmed();
        QSet<QString> allowed{folder};
        for (const QString& below : line.mid(colon + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!layers.contains(below))
                problems->append(QStringLiteral("%1:%2: %3 is not listed above it").arg(path).arg(number).arg(below));
            allowed.unite(layers.value(below));
        }
        layers.insert(folder, allowed);
    }
    return layers;
}

// The layer of a path relative to the root, or empty: the longest folder of the layers it is in
// ("views/team/x.cpp" is in "views", "engine/storage/chunks/x.h" in "engine/storage" when that
// folder is listed of its own).
QString layerOf(const Layers& layers, QString path)
{
    if (path.startsWith(QLatin1String("tests/")))
        path = path.mid(6);
    for (qsizetype slash = path.lastIndexOf(QLatin1Char('/')); slash > 0;
         slash = path.lastIndexOf(QLatin1Char('/'), slash - 1)) {
        const QString folder = path.left(slash);
        if (layers.contains(folder))
            return folder;
    }
    return {};
}

// Every include of a file under `root` that reaches a folder its layer may not include, and every
// source folder that is in no layer, as "file:line: what".
QStringList upwardIncludes(const QString& root, const Layers& layers)
{
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]+)\""));
    const QDir base(root);
    QStringList problems;
    QSet<QString> unlisted;
    QDirIterator files(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp"), QStringLiteral("*.h.in")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString relative = base.relativeFilePath(files.next());
        if (relative.startsWith(QLatin1String("build")) || relative.startsWith(QLatin1Char('.')))
            continue;
        const QString layer = layerOf(layers, relative);
        if (layer.isEmpty()) {
            // Shared test helpers sit in tests/support and tests/ itself; nothing else is outside.
            if (!relative.startsWith(QLatin1String("tests/")))
                unlisted.insert(relative.section(QLatin1Char('/'), 0, 0));
            continue;
        }
        QFile file(files.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        int number = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine());
            ++number;
            const QRegularExpressionMatch match = include.match(line);
            if (!match.hasMatch())
                continue;
            // A test's own helpers (tests/engine/support/...) are no layer's.
            if (relative.startsWith(QLatin1String("tests/")) &&
                QFileInfo::exists(base.filePath(QStringLiteral("tests/") + match.captured(1))))
                continue;
            const QString target = layerOf(layers, match.captured(1));
            if (!target.isEmpty() && !layers.value(layer).contains(target))
                problems << QStringLiteral("%1:%2: %3 may not include %4")
                                .arg(relative)
                                .arg(number)
                                .arg(layer, match.captured(1));
        }
    }
    for (const QString& folder : std::as_const(unlisted))
        problems << QStringLiteral("%1/: a source folder in no layer of cmake/layers.txt").arg(folder);
    problems.sort();
    return problems;
}

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class LayeringTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyIncludePointsDown()
    {
        QStringList problems;
        const Layers layers = readLayers(QStringLiteral(VANTREL_SOURCE_DIR "/cmake/layers.txt"), &problems);
        problems << upwardIncludes(QStringLiteral(VANTREL_SOURCE_DIR), layers);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    void anUpwardIncludeIsNamedWithItsLine()
    {
        QTemporaryDir root;
        write(root.filePath(QStringLiteral("layers.txt")), "ground:\nmiddle: ground\nside: ground\ntop: middle side\n");
        QStringList problems;
        const Layers layers = readLayers(root.filePath(QStringLiteral("layers.txt")), &problems);
        QVERIFY(problems.isEmpty());
        write(root.filePath(QStringLiteral("top/a.cpp")), "#include \"middle/b.h\"\n#include \"ground/c.h\"\n");
        write(root.filePath(QStringLiteral("middle/sub/b.h")), "#include \"ground/c.h\"\n#include <top/x.h>\n");
        write(root.filePath(QStringLiteral("side/d.h")),
              "// note\n  #  include \"middle/b.h\"\n#include \"local.h\"\n");
        write(root.filePath(QStringLiteral("tests/ground/e_test.cpp")),
              "#include \"support/f.h\"\n#include \"top/a.h\"\n");
        write(root.filePath(QStringLiteral("tests/support/f.h")), "#include \"top/a.h\"\n");
        write(root.filePath(QStringLiteral("tests/ground/g_test.cpp")), "#include \"top/support/h.h\"\n");
        write(root.filePath(QStringLiteral("tests/top/support/h.h")), "");
        write(root.filePath(QStringLiteral("stray/g.cpp")), "");
        QCOMPARE(upwardIncludes(root.path(), layers),
                 (QStringList{QStringLiteral("side/d.h:2: side may not include middle/b.h"),
                              QStringLiteral("stray/: a source folder in no layer of cmake/layers.txt"),
                              QStringLiteral("tests/ground/e_test.cpp:2: ground may not include top/a.h")}));

        write(root.filePath(QStringLiteral("bad.txt")), "top: nowhere\n");
        readLayers(root.filePath(QStringLiteral("bad.txt")), &problems);
        QCOMPARE(problems.size(), 1);
    }

    // The desktop (the user, their folders and applications) sits on the foundation and under the
    // engine: it may not reach up to team bundles, while the engine asks it freely.
    void theDesktopSitsBetweenTheFoundationAndTheEngine()
    {
        QStringList problems;
        const Layers layers = readLayers(QStringLiteral(VANTREL_SOURCE_DIR "/cmake/layers.txt"), &problems);
        QCOMPARE(layers.value(QStringLiteral("desktop")),
                 (QSet<QString>{QStringLiteral("desktop"), QStringLiteral("foundation")}));
        QVERIFY(layers.value(QStringLiteral("engine")).contains(QStringLiteral("desktop")));

        QTemporaryDir root;
        write(root.filePath(QStringLiteral("desktop/user.cpp")),
              "#include \"foundation/error.h\"\n#include \"engine/team_bundle.h\"\n");
        write(root.filePath(QStringLiteral("engine/bundle.cpp")),
              "#include \"desktop/user.h\"\n#include \"engine/storage/chunks/pack.h\"\n");
        write(root.filePath(QStringLiteral("tests/desktop/user_test.cpp")), "#include \"engine/id_for.h\"\n");
        // The engine's storage sits beneath the rest of the engine, its chunks inside it.
        write(root.filePath(QStringLiteral("engine/storage/chunks/pack.cpp")),
              "#include \"engine/storage/atomic_file.h\"\n#include \"engine/journal/journal.h\"\n");
        QCOMPARE(
            upwardIncludes(root.path(), layers),
            (QStringList{QStringLiteral("desktop/user.cpp:2: desktop may not include engine/team_bundle.h"),
                         QStringLiteral("engine/storage/chunks/pack.cpp:2: engine/storage may not include "
                                        "engine/journal/journal.h"),
                         QStringLiteral("tests/desktop/user_test.cpp:1: desktop may not include engine/id_for.h")}));
    }
};

QTEST_GUILESS_MAIN(LayeringTest)
#include "layering_test.moc"
