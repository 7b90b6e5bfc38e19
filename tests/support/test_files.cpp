#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::testing {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void plantLink(const QString& path, const QString& target)
{
    QFile::remove(path);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) != 0)
        qFatal("cannot link %s", qPrintable(path));
}

void plantFifo(const QString& path)
{
    QFile::remove(path);
    if (::mkfifo(QFile::encodeName(path).constData(), 0644) != 0)
        qFatal("cannot make the FIFO %s", qPrintable(path));
}

} // namespace vantrel::testing
