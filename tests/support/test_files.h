// Files written, read and planted by tests: Qt and the system alone.

#pragma once

#include <QByteArray>
#include <QString>

namespace vantrel::testing {

void writeFile(const QString& path, const QByteArray& content);
QByteArray contentOf(const QString& path); // empty when it can't be read

// What a hostile teammate plants: whatever is at `path` replaced by a symbolic link to `target`,
// or by a FIFO.
void plantLink(const QString& path, const QString& target);
void plantFifo(const QString& path);

} // namespace vantrel::testing
