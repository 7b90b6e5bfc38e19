#include "desktop/process_names.h"

#include "desktop/proc_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <utility>

namespace vantrel {

namespace {

// How much of a process's files is read: a command line or a desktop entry beyond this is not
// looked at.
constexpr qsizetype commandLineLimit = 256 * 1024;
constexpr qsizetype desktopEntryLimit = 64 * 1024;
constexpr qsizetype childrenLimit = 64 * 1024;
// The kernel cuts a process name to this many characters.
constexpr qsizetype processNameLength = 15;
// Launchers in launchers are looked through this deep, no deeper, and at most this many
// processes below one launcher.
constexpr int launcherDepth = 8;
constexpr int processesBelowLimit = 64;
// How many parents up a process is followed to an application this program started or a sandbox.
constexpr int ancestorLimit = 32;

// Programs that start another program, in a sandbox or an environment of its own, and that the
// user never chose: bubblewrap (also as Flatpak's own copy), Flatpak's and snap's launchers, env.
bool isLauncher(const QString& program)
{
    static const QSet<QString> launchers{
        QStringLiteral("bwrap"),        QStringLiteral("flatpak-bwrap"), QStringLiteral("flatpak"),
        QStringLiteral("flatpak-spawn"), QStringLiteral("snap"),         QStringLiteral("snap-confine"),
        QStringLiteral("snap-exec"),    QStringLiteral("env"),
    };
    return launchers.contains(program);
}

// How many arguments a bwrap option takes; most take one.
int bwrapOptionArguments(const QString& option)
{
    static const QSet<QString> none{
        QStringLiteral("--unshare-all"),     QStringLiteral("--share-net"),
        QStringLiteral("--unshare-user"),    QStringLiteral("--unshare-user-try"),
        QStringLiteral("--unshare-ipc"),     QStringLiteral("--unshare-pid"),
        QStringLiteral("--unshare-net"),     QStringLiteral("--unshare-uts"),
        QStringLiteral("--unshare-cgroup"),  QStringLiteral("--unshare-cgroup-try"),
        QStringLiteral("--disable-userns"),  QStringLiteral("--assert-userns-disabled"),
        QStringLiteral("--clearenv"),        QStringLiteral("--new-session"),
        QStringLiteral("--die-with-parent"), QStringLiteral("--as-pid-1"),
        QStringLiteral("--level-prefix"),
    };
    static const QSet<QString> two{
        QStringLiteral("--bind"),         QStringLiteral("--bind-try"),   QStringLiteral("--dev-bind"),
        QStringLiteral("--dev-bind-try"), QStringLiteral("--ro-bind"),    QStringLiteral("--ro-bind-try"),
        QStringLiteral("--bind-fd"),      QStringLiteral("--ro-bind-fd"), QStringLiteral("--setenv"),
        QStringLiteral("--symlink"),      QStringLiteral("--file"),       QStringLiteral("--bind-data"),
        QStringLiteral("--ro-bind-data"), QStringLiteral("--chmod"),
    };
    if (none.contains(option))
        return 0;
    if (two.contains(option))
        return 2;
    return option == QLatin1String("--overlay") ? 3 : 1;
}

// The command line that the launcher `launcher`, given `arguments`, runs; empty when it names none.
QStringList commandRunBy(const QString& launcher, const QStringList& arguments)
{
    qsizetype at = 0;
    const auto rest = [&] { return arguments.mid(at); };
    if (launcher == QLatin1String("bwrap") || launcher == QLatin1String("flatpak-bwrap")) {
        while (at < arguments.size() && arguments.at(at).startsWith(QLatin1String("--"))) {
            if (arguments.at(at) == QLatin1String("--"))
                return arguments.mid(at + 1);
            at += 1 + bwrapOptionArguments(arguments.at(at));
        }
        return rest();
    }
    if (launcher == QLatin1String("env")) {
        static const QSet<QString> withValue{QStringLiteral("-u"), QStringLiteral("--unset"), QStringLiteral("-C"),
                                             QStringLiteral("--chdir")};
        while (at < arguments.size() && (arguments.at(at).startsWith(u'-') || arguments.at(at).contains(u'='))) {
            if (arguments.at(at) == QLatin1String("--"))
                return arguments.mid(at + 1);
            at += withValue.contains(arguments.at(at)) ? 2 : 1;
        }
        return rest();
    }
    // The others take their options as "--name=value": the first other argument is what they run.
    // `flatpak run` and `snap run` are told the command, or run the application they are named.
    const bool runs = launcher == QLatin1String("flatpak") || launcher == QLatin1String("snap");
    for (; at < arguments.size(); ++at) {
        const QString& argument = arguments.at(at);
        if (runs && argument.startsWith(QLatin1String("--command=")))
            return {argument.mid(10)};
        if (argument.startsWith(u'-') || (runs && argument == QLatin1String("run")))
            continue;
        if (launcher == QLatin1String("snap-confine"))
            return arguments.mid(at + 1); // after the sandbox's name: the program
        if (runs || launcher == QLatin1String("snap-exec"))
            return {argument.section(u'.', -1)}; // "snap.app" runs app, as "app" does
        return rest();
    }
    return {};
}

// The base name of the program a desktop entry's Exec runs, and whether it runs it directly.
std::pair<QString, bool> programOfExec(const QString& exec)
{
    const QStringList arguments = QProcess::splitCommand(exec);
    if (arguments.isEmpty())
        return {};
    const QString first = QDir::cleanPath(arguments.first()).section(u'/', -1);
    return {programRunBy(arguments), !isLauncher(first)};
}

// The running children of the process whose /proc folder is `process`, from each of its threads'
// list.
QList<qint64> childrenOf(int process)
{
    QList<qint64> children;
    const int tasks = ::openat(process, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tasks < 0)
        return children;
    DIR* list = ::fdopendir(tasks);
    if (!list) {
        ::close(tasks);
        return children;
    }
    while (const dirent* entry = ::readdir(list)) {
        if (entry->d_name[0] == '.')
            continue;
        const QByteArray name = QByteArray(entry->d_name) + "/children";
        for (const QByteArray& child : proc::readAt(::dirfd(list), name.constData(), childrenLimit).split(' ')) {
            bool isNumber = false;
            if (const qint64 pid = child.trimmed().toLongLong(&isNumber); isNumber && !children.contains(pid))
                children.append(pid);
        }
    }
    ::closedir(list);
    return children;
}

// What a process runs, as its /proc folder tells: the program file, the program its command line
// started, the kernel's name of it (cut to 15 characters), and its command line.
struct ProcessRun {
    QString executable;
    QString started;
    QString name;
    QStringList arguments;

    bool runsLauncher() const { return isLauncher(executable) || isLauncher(started); }

    // The name of the desktop entry whose program this is, if any.
    std::optional<QString> entryName(const QHash<QString, QString>& entries) const
    {
        for (const QString& program : {executable, started, name}) {
            if (const auto entry = entries.constFind(program); !program.isEmpty() && entry != entries.constEnd())
                return *entry;
        }
        return std::nullopt;
    }
};

ProcessRun runOf(int process)
{
    ProcessRun run;
    run.executable = proc::baseName(proc::linkAt(process, "exe"));
    for (const QByteArray& argument : proc::readAt(process, "cmdline", commandLineLimit).split('\0'))
        run.arguments.append(QFile::decodeName(argument));
    if (!run.arguments.isEmpty() && run.arguments.last().isEmpty())
        run.arguments.removeLast();
    run.started = proc::baseName(QFile::encodeName(run.arguments.value(0)));
    run.name = QString::fromUtf8(proc::readAt(process, "comm", 64)).trimmed();
    return run;
}

// The desktop entry of the application a launcher runs: the first process below it, nearest
// first, whose program has one. What else a sandbox runs (bwrap's own first process, a wrapper
// shell, a D-Bus proxy beside the application) has none and is passed over.
std::optional<QString> entryBelow(int launcher, const QHash<QString, QString>& entries)
{
    QList<qint64> level = childrenOf(launcher);
    int looked = 0;
    for (int depth = 0; depth < launcherDepth && !level.isEmpty(); ++depth) {
        QList<qint64> below;
        for (const qint64 pid : std::as_const(level)) {
            if (++looked > processesBelowLimit)
                return std::nullopt;
            const proc::ClosingFd process = proc::openProcess(pid);
            if (process.get() < 0)
                continue;
            if (auto named = runOf(process.get()).entryName(entries))
                return named;
            below.append(childrenOf(process.get()));
        }
        level = below;
    }
    return std::nullopt;
}

QString nameOf(qint64 pid, const QHash<QString, QString>& entries, int depth)
{
    const proc::ClosingFd process = proc::openProcess(pid);
    const ProcessRun run = runOf(process.get());
    if (depth < launcherDepth && run.runsLauncher()) {
        // What the launcher runs: the application below it, else the program its command line
        // names when that has an entry, else whatever its child is called (the sandbox's own
        // first process looked through too), else the program its command line names.
        if (auto named = entryBelow(process.get(), entries))
            return *named;
        const QString program = programRunBy(run.arguments);
        if (const auto entry = entries.constFind(program); !program.isEmpty() && entry != entries.constEnd())
            return *entry;
        for (const qint64 child : childrenOf(process.get())) {
            if (const QString named = nameOf(child, entries, depth + 1); !named.isEmpty())
                return named;
        }
        if (!program.isEmpty())
            return program;
    }
    if (auto named = run.entryName(entries))
        return *named;
    QString name = run.name;
    if (name.size() == processNameLength && run.executable.startsWith(name))
        name = run.executable;
    if (name.isEmpty())
        name = run.executable.isEmpty() ? QString::number(pid) : run.executable;
    return name;
}

} // namespace

QString programRunBy(const QStringList& arguments)
{
    QStringList command = arguments;
    for (int depth = 0; depth < launcherDepth && !command.isEmpty(); ++depth) {
        const QString program = QDir::cleanPath(command.first()).section(u'/', -1);
        if (!isLauncher(program))
            return program;
        command = commandRunBy(program, command.mid(1));
    }
    return {};
}

QHash<QString, QString> desktopEntryNames()
{
    struct Entry {
        QString name;
        bool opensFiles = false;
        bool direct = false;
    };
    QHash<QString, Entry> entries;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        QDirIterator files(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QString name;
            QString exec;
            bool hidden = false;
            bool inEntry = false;
            for (const QByteArray& raw : file.read(desktopEntryLimit).split('\n')) {
                const QByteArray line = raw.trimmed();
                if (line.startsWith('['))
                    inEntry = line == "[Desktop Entry]";
                else if (inEntry && line.startsWith("Name=") && name.isEmpty())
                    name = QString::fromUtf8(line.mid(5)).trimmed();
                else if (inEntry && line.startsWith("Exec=") && exec.isEmpty())
                    exec = QString::fromUtf8(line.mid(5)).trimmed();
                else if (inEntry && (line == "Hidden=true" || line == "NoDisplay=true"))
                    hidden = true;
            }
            const auto [program, direct] = programOfExec(exec);
            if (hidden || name.isEmpty() || program.isEmpty())
                continue;
            const bool opensFiles = exec.contains(QLatin1String("%f"), Qt::CaseInsensitive)
                                    || exec.contains(QLatin1String("%u"), Qt::CaseInsensitive);
            const auto known = entries.constFind(program);
            if (known == entries.constEnd()
                || std::pair(opensFiles, direct) > std::pair(known->opensFiles, known->direct))
                entries.insert(program, {name, opensFiles, direct});
        }
    }
    QHash<QString, QString> names;
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry)
        names.insert(entry.key(), entry->name);
    return names;
}

QString processName(qint64 pid, const QHash<QString, QString>& entries)
{
    return nameOf(pid, entries, 0);
}

QString applicationName(qint64 pid, const QHash<QString, QString>& entries, const QHash<qint64, QString>& launched)
{
    // Up through the parents, as this program's pid namespace numbers them: the first launch
    // counts; else the nearest launcher, unless this program runs in its sandbox too.
    const auto parents = [](qint64 from) {
        QList<qint64> chain;
        for (qint64 current = from; chain.size() < ancestorLimit && current > 1;) {
            chain.append(current);
            const proc::ClosingFd process = proc::openProcess(current);
            current = process.get() >= 0 ? proc::parentAt(process.get()) : 0;
        }
        return chain;
    };
    const QList<qint64> chain = parents(pid);
    for (const qint64 current : chain) {
        if (const auto launch = launched.constFind(current); launch != launched.constEnd())
            return *launch;
    }
    const QList<qint64> own = parents(::getpid());
    for (const qint64 current : chain.mid(1)) {
        if (own.contains(current))
            break;
        const proc::ClosingFd process = proc::openProcess(current);
        if (process.get() >= 0 && runOf(process.get()).runsLauncher())
            return nameOf(current, entries, 0);
    }
    return nameOf(pid, entries, 0);
}

} // namespace vantrel
