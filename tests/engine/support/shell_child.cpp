#include "support/shell_child.h"

#include <QStandardPaths>
#include <QTest>

namespace vantrel::testing {

QString program(const QString& name)
{
    return QStandardPaths::findExecutable(name);
}

void startShell(ChildProcess& child, const QString& errors, const QString& script, const QStringList& arguments)
{
    QVERIFY2(child.start(program(QStringLiteral("sh")),
                         QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + arguments,
                         ChildInput::pipe(), errors),
             qPrintable(child.describe()));
    if (script.contains(QStringLiteral("echo ready")))
        QVERIFY2(!child.waitFor("ready").isNull(), qPrintable(child.describe()));
}

} // namespace vantrel::testing
