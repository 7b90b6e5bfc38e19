// How people know a running program: by the desktop entry that starts it, as their menu shows it.
// Sandbox launchers (bwrap, flatpak, flatpak-spawn, snap's, env) are looked through to the
// program they run, in a desktop entry's Exec as in a running process.

#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace vantrel {

// The names of the installed desktop entries, by the base name of the program their Exec runs
// (through a launcher, the program it runs). Entries the desktop hides are left out. Of the
// entries that run one program, one that opens files (an editor's, rather than its settings')
// wins, then one that runs it directly rather than through a launcher, then the first, the
// user's own first.
QHash<QString, QString> desktopEntryNames();

// The base name of the program that the command line `arguments` runs: its first argument's,
// or, when that is a sandbox launcher, the program the launcher runs, launchers in launchers
// too; "" when a launcher names no program.
QString programRunBy(const QStringList& arguments);

// How people know the process `pid`: the name of the desktop entry running its program, else its
// program's name. A launcher is named by the program it runs: its child, else the program its
// command line names.
QString processName(qint64 pid, const QHash<QString, QString>& entries);

// How people know the process `pid` as part of an application, all of whose processes are one to
// them: a process below one that this program started (`launched`: names by pid) is that
// application, named as it was started; one in a sandbox (below a launcher) is the application
// the sandbox runs; any other is named by processName().
QString applicationName(qint64 pid, const QHash<QString, QString>& entries, const QHash<qint64, QString>& launched);

} // namespace vantrel
