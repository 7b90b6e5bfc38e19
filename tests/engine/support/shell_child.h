// A shell script as a child process of a test, standing for an application that uses a working
// copy.

#pragma once

#include "support/child_process.h"

#include <QString>
#include <QStringList>

namespace vantrel::testing {

// The path of the program `name` on PATH.
QString program(const QString& name);

// Starts `sh -c <script> sh <arguments>` reading a pipe (so it waits until killed), and waits
// for it to print "ready" when its script does.
void startShell(ChildProcess& child, const QString& errors, const QString& script, const QStringList& arguments = {});

} // namespace vantrel::testing
