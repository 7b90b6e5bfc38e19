// Child processes of the tests, spawned and reaped by hand rather than through QProcess: until
// waitpid() the pid cannot name another process, so a kill cannot miss. What a child prints on
// its standard output is read line by line, each line stamped with the moment it arrived; its
// standard error goes to a file, shown by describe().

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace vantrel::testing {

// One line a child printed, without its end of line.
struct PrintedLine {
    std::chrono::steady_clock::time_point arrived;
    QByteArray text;
};

// Where a child's standard input comes from.
class ChildInput {
public:
    // /dev/null: the child reads the end of its input at once.
    static ChildInput none() { return ChildInput(Kind::none, -1); }
    // A pipe of the child's own: ChildProcess::send() writes to it, ChildProcess::closeInput()
    // ends it.
    static ChildInput pipe() { return ChildInput(Kind::pipe, -1); }
    // A descriptor of the caller's, which stays the caller's (StartSignal::input(), say).
    static ChildInput descriptor(int fd) { return ChildInput(Kind::descriptor, fd); }

    enum class Kind { none, pipe, descriptor };
    Kind kind() const { return m_kind; }
    int fd() const { return m_fd; }

private:
    ChildInput(Kind kind, int fd) : m_kind(kind), m_fd(fd) {}
    Kind m_kind;
    int m_fd;
};

// A running child process; killed and reaped when dropped.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments`, its standard error into the file `errorPath`. False when
    // it could not be started (describe() tells why).
    bool start(const QString& program, const QStringList& arguments, ChildInput input, const QString& errorPath);

    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_out; }
    // Whether its standard output is still open: false once it has ended (or could not start).
    bool isPrinting() const { return m_out >= 0; }

    // Reads what the child has printed so far; closes the output at its end.
    void readAvailable();
    const std::vector<PrintedLine>& lines() const { return m_lines; }
    std::optional<PrintedLine> firstLine(const QByteArray& prefix) const;
    // The rest of the first line that starts with `prefix`, once printed; empty when the child
    // ended or did not print it within `timeout`.
    QString waitFor(const QByteArray& prefix, std::chrono::milliseconds timeout = std::chrono::minutes(1));

    // Writes `line` to its standard input (ChildInput::pipe() only).
    void send(const QByteArray& line);
    void closeInput();
    // Lets it end by closing its standard input, and waits for it to end.
    void end();

    void kill();
    // Reads what it prints until `moment`, then kills it unless it has ended. poll() counts in
    // milliseconds: the last stretch is slept precisely. Returns whether it was killed.
    bool killAt(std::chrono::steady_clock::time_point moment);
    // Waits for the child to end; returns its wait status.
    int reap();
    bool exitedCleanly() const; // reaped, exited with status 0
    bool wasKilled() const;     // reaped, ended by SIGKILL

    // Everything known of the child, for failure messages.
    QString describe() const;

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = 0;
    int m_out = -1;
    int m_in = -1;
    QByteArray m_partial;
    std::vector<PrintedLine> m_lines;
    QString m_errorPath;
    QString m_failure;
};

using Children = std::vector<ChildProcess*>;

// Reads what the children print until `done` holds or `deadline` passes; returns `done()`.
bool pumpUntil(const Children& children, std::chrono::steady_clock::time_point deadline,
               const std::function<bool()>& done);
bool allEnded(const Children& children);
// Waits for the children to finish (killing those still running after `timeout`) and reaps them.
void finish(const Children& children, std::chrono::seconds timeout = std::chrono::seconds(60));

// A pipe whose read end many children take as standard input: closing the write end releases
// them all at the same moment.
class StartSignal {
public:
    StartSignal();
    ~StartSignal();
    StartSignal(const StartSignal&) = delete;
    StartSignal& operator=(const StartSignal&) = delete;
    bool isValid() const { return m_ok; }
    // The standard input of every child to release.
    ChildInput input() const { return ChildInput::descriptor(m_fds[0]); }
    // Once every child has started: only they hold the read end.
    void closeReadEnd();
    void fire();

private:
    int m_fds[2] = {-1, -1};
    bool m_ok = false;
};

} // namespace vantrel::testing
