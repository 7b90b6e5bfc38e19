#include "support/working_copy_changes.h"

#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::testing {

namespace {

void require(bool done, const char* what, const QString& path)
{
    if (!done)
        qFatal("%s %s failed", what, qPrintable(path));
}

void move(const QString& from, const QString& to)
{
    require(std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0, "rename", from);
}

} // namespace

void makeChangingPackage(const QString& path)
{
    writeFile(path + QStringLiteral("/Info.plist"), "info");
    writeFile(path + QStringLiteral("/edit/f"), "edit me in place");
    writeFile(path + QStringLiteral("/remove/f"), "remove me");
    writeFile(path + QStringLiteral("/remove/keep"), "keep");
    writeFile(path + QStringLiteral("/rename/f"), "rename me");
    writeFile(path + QStringLiteral("/moves/dir1/sub/x"), "in a renamed folder");
    writeFile(path + QStringLiteral("/chmod/f"), "make me executable");
    writeFile(path + QStringLiteral("/deep/x/y/z/f"), "deep down");
    writeFile(path + QStringLiteral("/deep/x/other"), "beside");
    writeFile(path + QStringLiteral("/untouched/u/f"), "never changed in the package");
    writeFile(path + QStringLiteral("/leaving/gone/f"), "moved out");
    writeFile(path + QStringLiteral("/later/keep"), "keep");
    for (const char* empty : {"/add", "/made", "/arrivals"})
        require(QDir().mkpath(path + QLatin1String(empty)), "mkdir", path);
}

void changeEveryWay(const QString& package, const QString& outside)
{
    QFile edited(package + QStringLiteral("/edit/f"));
    require(edited.open(QIODevice::ReadWrite), "open", edited.fileName());
    edited.write("EDITED"); // in place: same file, no truncation
    edited.close();
    writeFile(package + QStringLiteral("/add/new"), "added");
    require(QFile::remove(package + QStringLiteral("/remove/f")), "remove", package);
    move(package + QStringLiteral("/rename/f"), package + QStringLiteral("/rename/g"));
    move(package + QStringLiteral("/moves/dir1"), package + QStringLiteral("/moves/dir2"));
    require(::chmod(QFile::encodeName(package + QStringLiteral("/chmod/f")).constData(), 0755) == 0, "chmod", package);
    writeFile(package + QStringLiteral("/deep/x/y/z/f"), "deeper");
    require(QDir().mkdir(package + QStringLiteral("/later/sub")), "mkdir", package);
    writeFile(package + QStringLiteral("/later/sub/f"), "in a folder made after the check-out");
    writeFile(package + QStringLiteral("/made/fresh/a/b/f"), "made and filled at once");
    writeFile(outside + QStringLiteral("/in/sub/f"), "moved in");
    move(outside + QStringLiteral("/in"), package + QStringLiteral("/arrivals/in"));
    move(package + QStringLiteral("/leaving/gone"), outside + QStringLiteral("/gone"));
    writeFile(outside + QStringLiteral("/gone/after"), "no longer in the package");
}

QSet<QString> foldersChangedEveryWay()
{
    QSet<QString> folders;
    for (const char* folder : {"edit", "add", "remove", "rename", "moves", "moves/dir2", "moves/dir2/sub", "chmod",
                               "deep/x/y/z", "later", "later/sub", "made", "made/fresh", "made/fresh/a",
                               "made/fresh/a/b", "arrivals", "arrivals/in", "arrivals/in/sub", "leaving"})
        folders.insert(QString::fromLatin1(folder));
    return folders;
}

void changeUnseen(const QString& package, const QString& outside)
{
    const QString link = outside + QStringLiteral("/unseen");
    require(::link(QFile::encodeName(package + QStringLiteral("/untouched/u/f")).constData(),
                   QFile::encodeName(link).constData())
                == 0,
            "link", link);
    QFile file(link);
    require(file.open(QIODevice::ReadWrite), "open", link);
    file.write("CHANGED BEHIND THE WATCH");
}

} // namespace vantrel::testing
