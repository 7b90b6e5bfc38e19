#pragma once

// What the files of the logger share: the state behind a Logger, whose file is written under a
// lock, and the text of its entries.

#include "engine/logger.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

namespace vantrel {

namespace log_text {

// Names and the calling method belong on the first line whatever they contain.
QString singleLine(const QString& text);
// The lines of one entry: the first stamped and naming `userAtHost` and the calling method, the
// message's further lines indented.
QByteArray entry(const QString& message, const QString& callingMethod, Logger::Level level, const QString& userAtHost);
QString systemReason(const QString& what, int error);

} // namespace log_text

struct Logger::State {
    QString directory;
    QString fileName;
    QString path;
    QString rotatedPath;
    QString userAtHost;
    QString localDirectory;
    QString localPath;
    bool local = false; // the open file is the local one
    bool localReported = false;

    QMutex mutex;
    int fd = -1;
    qint64 size = 0;
    bool failing = false;          // the last entry could not be written; already reported
    bool rotationReported = false; // rotation failed once; the file keeps growing

    ~State() { closeFile(); }

    void closeFile();
    bool openFile(QString& failure);
    bool openIn(const QString& folderPath, const QString& name, const QString& filePath, QString& failure);
    void rotate();
    // `partial` tells that part of `bytes` reached the file before the failure.
    bool writeAll(const QByteArray& bytes, QString& failure, bool& partial);
    bool appendLocked(const QByteArray& entry, QString& failure);
    void append(const QString& message, const QString& callingMethod, Level level) noexcept;
};

} // namespace vantrel
