#include "packages/crash_reporting/crash_report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::crash_reporting {

namespace {

constexpr qsizetype maxValueSize = 8 * 1024;
constexpr qsizetype maxDemangledInput = 1024;

std::optional<quint64> hexNumber(QByteArrayView text)
{
    if (!text.startsWith("0x") || text.size() < 3 || text.size() > 18)
        return std::nullopt;
    bool ok = false;
    const quint64 value = text.sliced(2).toULongLong(&ok, 16);
    return ok ? std::optional(value) : std::nullopt;
}

QString demangled(const QByteArray& symbol)
{
    if (symbol.startsWith("_Z") && symbol.size() <= maxDemangledInput) {
        int status = -1;
        char* text = abi::__cxa_demangle(symbol.constData(), nullptr, nullptr, &status);
        const QString name = status == 0 && text ? QString::fromUtf8(text) : QString();
        std::free(text);
        if (!name.isEmpty())
            return name;
    }
    return QString::fromUtf8(symbol);
}

std::optional<QDateTime> timeOf(QByteArrayView text)
{
    const qsizetype dot = text.indexOf('.');
    bool secondsOk = false;
    bool nanosecondsOk = true;
    const qint64 seconds = text.first(dot < 0 ? text.size() : dot).toLongLong(&secondsOk);
    const qint64 nanoseconds = dot < 0 ? 0 : text.sliced(dot + 1).toLongLong(&nanosecondsOk);
    if (!secondsOk || !nanosecondsOk || seconds < 0 || seconds > 253402300799LL || nanoseconds < 0
        || nanoseconds > 999999999)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, Qt::UTC);
}

bool isEventId(const QString& text)
{
    if (text.size() != 32)
        return false;
    for (const QChar c : text)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    return true;
}

// At most `maxReportSize` bytes of the regular file at `path`, never through a link.
std::optional<QByteArray> readBounded(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = QStringLiteral("it cannot be opened (errno %1)").arg(errno);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("it is not a regular file");
        return std::nullopt;
    }
    QByteArray content(maxReportSize, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < content.size()) {
        const ssize_t count = ::read(fd, content.data() + filled, static_cast<size_t>(content.size() - filled));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        filled += count;
    }
    ::close(fd);
    content.truncate(filled);
    return content;
}

// The process id in a report's file name ("<date>-<time>-<pid>-<n>.crash"); 0 when there is none.
qint64 processIdOf(const QString& fileName)
{
    bool ok = false;
    const qint64 pid = fileName.section(QLatin1Char('-'), 2, 2).toLongLong(&ok);
    return ok && pid > 1 && pid < (qint64(1) << 31) ? pid : 0;
}

bool isRunning(qint64 pid)
{
    if (pid == 0 || pid == QCoreApplication::applicationPid())
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QByteArray escapeReportValue(QByteArrayView value)
{
    QByteArray escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\\')
            escaped += "\\\\";
        else
            escaped += c;
    }
    return escaped;
}

QByteArray unescapeReportValue(QByteArrayView value)
{
    QByteArray text;
    text.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            text += c;
            continue;
        }
        const char next = value[++i];
        text += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return text;
}

CrashFrame CrashFrame::parse(QByteArrayView line)
{
    CrashFrame frame;
    QByteArrayView rest = line.trimmed();
    const qsizetype open = rest.lastIndexOf('[');
    if (open >= 0 && rest.endsWith(']')) {
        frame.address = hexNumber(rest.sliced(open + 1, rest.size() - open - 2)).value_or(0);
        rest = rest.first(open).trimmed();
    }
    if (rest.endsWith(')')) {
        const qsizetype parenthesis = rest.lastIndexOf('(');
        if (parenthesis >= 0) {
            const QByteArrayView inside = rest.sliced(parenthesis + 1, rest.size() - parenthesis - 2);
            const qsizetype sign = std::max(inside.lastIndexOf('+'), inside.lastIndexOf('-'));
            const QByteArrayView symbol = sign >= 0 ? inside.first(sign) : inside;
            if (sign >= 0)
                frame.offset = hexNumber(inside.sliced(sign + 1)).value_or(0);
            frame.function = demangled(symbol.toByteArray());
            rest = rest.first(parenthesis);
        }
    }
    frame.module = QString::fromUtf8(rest.trimmed());
    return frame;
}

std::optional<CrashReport> readCrashReport(const QString& path, QString* error)
{
    QString reason;
    const auto fail = [&](const QString& why) -> std::optional<CrashReport> {
        if (error)
            *error = QStringLiteral("%1 is no crash report: %2.").arg(path, why);
        return std::nullopt;
    };
    const std::optional<QByteArray> content = readBounded(path, &reason);
    if (!content)
        return fail(reason);
    const QList<QByteArray> lines = content->split('\n');
    if (lines.isEmpty() || lines.first() != QByteArrayView(reportMagic))
        return fail(QStringLiteral("its first line is not that of a report"));

    CrashReport report;
    report.path = path;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        if (line == "end") {
            report.complete = true;
            break;
        }
        const qsizetype colon = line.indexOf(": ");
        if (colon <= 0)
            continue;
        const QByteArrayView key = line.first(colon);
        const QByteArrayView raw = line.sliced(colon + 2);
        if (key == "frame") {
            if (report.frames.size() < maxReportFrames)
                report.frames.append(CrashFrame::parse(raw.first(std::min(raw.size(), maxValueSize))));
            continue;
        }
        const QString value = QString::fromUtf8(unescapeReportValue(raw.first(std::min(raw.size(), maxValueSize))));
        if (key == "event-id")
            report.eventId = value;
        else if (key == "app")
            report.app.name = value;
        else if (key == "version")
            report.app.version = value;
        else if (key == "build")
            report.app.build = value;
        else if (key == "environment")
            report.app.environment = value;
        else if (key == "os-name")
            report.osName = value;
        else if (key == "os-release")
            report.osRelease = value;
        else if (key == "os-version")
            report.osVersion = value;
        else if (key == "machine")
            report.machine = value;
        else if (key == "signal")
            report.signal = value.toInt();
        else if (key == "type")
            report.type = value.left(64);
        else if (key == "message")
            report.message = value;
        else if (key == "address")
            report.faultAddress = hexNumber(raw);
        else if (key == "time")
            report.time = timeOf(raw).value_or(QDateTime());
    }
    if (!isEventId(report.eventId))
        return fail(QStringLiteral("it has no event id"));
    if (report.type.isEmpty())
        return fail(QStringLiteral("it names no kind of crash"));
    return report;
}

QList<CrashReport> pendingCrashReports(const QString& folder, const QString& ownPath, int limit)
{
    QList<CrashReport> reports;
    const QFileInfoList files = QDir(folder).entryInfoList({QLatin1Char('*') + reportSuffix},
                                                           QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    const QString own = ownPath.isEmpty() ? QString() : QFileInfo(ownPath).absoluteFilePath();
    for (const QFileInfo& file : files) {
        if (reports.size() >= limit)
            break;
        const QString path = file.absoluteFilePath();
        if (path == own)
            continue;
        const bool running = isRunning(processIdOf(file.fileName()));
        if (file.size() == 0) {
            // Prepared by a process that ended without crashing and without cleaning up.
            if (!running)
                QFile::remove(path);
            continue;
        }
        QString error;
        std::optional<CrashReport> report = readCrashReport(path, &error);
        if (!report) {
            qWarning("%s It is removed.", qPrintable(error));
            QFile::remove(path);
            continue;
        }
        // Still being written by a process that is crashing now.
        if (!report->complete && running)
            continue;
        reports.append(std::move(*report));
    }
    return reports;
}

} // namespace vantrel::crash_reporting
