// What the test shares (sshfs_share.h, smb_share.h) have in common: programs run to their end,
// servers that go into the background, FUSE mounts, and a watchdog that takes them all away
// with the process that made them. Qt alone, never the engine.

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace vantrel::testing::share_process {

// The program `name` in PATH or in a folder of system programs (servers live in sbin).
QString findProgram(const QString& name);
// fusermount3, else fusermount; empty when neither is installed.
QString fusermount();
// "/dev/fuse" and "fusermount" when missing, then each of `programs` that is.
QStringList missingForFuse(const QStringList& programs);

// Runs a short command to its end, its output into `log` and its input from `input` (a file;
// nothing when empty); kills it after `timeoutMs`. `environment` entries ("NAME=value") are
// added to the process's. A program that leaves a daemon behind must not write into a pipe of
// ours: the daemon would die of SIGPIPE once the pipe is gone.
bool runCommand(const QString& program, const QStringList& arguments, const QString& log, int timeoutMs = 30000,
                const QStringList& environment = {}, const QString& input = QString());

// The last 2000 bytes of the file at `path`, as text.
QString tail(const QString& path);
bool writeText(const QString& path, const QByteArray& text);
int freeLoopbackPort();
QString userName();
// Whether the process is gone: ended, or a zombie nobody has reaped yet.
bool hasEnded(qint64 pid);
// Whether `done()` holds, asked again every `pause` until it does, for at most `patience`: a server
// that starts or a mount's first look takes milliseconds, but seconds on a loaded machine.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds pause = std::chrono::milliseconds(50),
               std::chrono::seconds patience = std::chrono::minutes(2));
// The number in the pid file at `path` once it is there (see waitUntil()); 0 if it never is.
qint64 waitForPidFile(const QString& path);
// Stops the process: SIGTERM, then SIGKILL when it is still there 5 s later.
void stopProcess(qint64 pid);

// Starts the watchdog of `folder`: once the pipe whose write end is returned closes without
// "stopped" having been written into it first, it unmounts every mount named in
// `folder`/mount-points, stops each process named by a `folder`/*.pid file and removes the folder.
// It belongs to no process of the test. -1 when it could not be started.
int startWatchdog(const QString& folder);
// Tells the watchdog that everything was taken away already, and lets it go.
void dismissWatchdog(int& watchdog);
// Takes a share away in order: unmounts `mounts` (the last made first), stops the server `pid`
// and removes its pid file `folder`/`pidFile`, and dismisses the watchdog. Clears what it took.
void takeDown(const QString& folder, QStringList& mounts, qint64& pid, const QString& pidFile, int& watchdog);
// Records `mounts` for the watchdog.
void nameMounts(const QString& folder, const QStringList& mounts);

// Whether `point` is a FUSE mount.
bool isFuseMount(const QString& point);
// Unmounts the FUSE mount at `point`, lazily when something still uses it; `log` gets the output.
bool unmount(const QString& point, const QString& log);

} // namespace vantrel::testing::share_process
