#include "packages/crash_reporting/crash_handlers.h"

#include "packages/crash_reporting/crash_report.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QUuid>
#include <QtGlobal>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <string>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

namespace vantrel::crash_reporting {

namespace {

constexpr std::array fatalSignals{SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE};
constexpr int maxFrames = 128;
constexpr std::size_t alternateStackSize = 128 * 1024;
constexpr std::size_t messageCapacity = 4096;

// The file of this process's report and everything written before the crash. Once published it
// never changes; a replaced one is leaked, since a handler may still be reading it.
struct PreparedReport {
    int fd = -1;
    QByteArray path;
    QByteArray header;
};

std::atomic<PreparedReport*> prepared{nullptr};

// The message of a qFatal or of std::terminate, escaped, for the abort that follows it.
char pendingMessage[messageCapacity];
std::atomic<std::size_t> pendingMessageLength{0};
std::atomic<const char*> pendingType{nullptr};

// The thread writing the report; 0 while none is.
std::atomic<long> writingThread{0};

bool installed = false;
QtMessageHandler previousMessageHandler = nullptr;
std::terminate_handler previousTerminate = nullptr;
alignas(16) char alternateStack[alternateStackSize];
int preparedCount = 0;

// Async-signal-safe output: write(2) only.

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void writeText(int fd, const char* text)
{
    writeAll(fd, text, std::strlen(text));
}

void writeNumber(int fd, unsigned long long value, int minimumDigits = 1)
{
    char digits[24];
    int count = 0;
    do {
        digits[sizeof digits - 1 - count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 || count < minimumDigits);
    writeAll(fd, digits + sizeof digits - count, static_cast<std::size_t>(count));
}

void writeHex(int fd, unsigned long long value)
{
    char digits[18];
    int count = 0;
    do {
        digits[sizeof digits - 1 - count++] = "0123456789abcdef"[value % 16];
        value /= 16;
    } while (value > 0);
    writeText(fd, "0x");
    writeAll(fd, digits + sizeof digits - count, static_cast<std::size_t>(count));
}

void writeReport(const PreparedReport& report, int number, const siginfo_t* info)
{
    const int fd = report.fd;
    writeAll(fd, report.header.constData(), static_cast<std::size_t>(report.header.size()));

    writeText(fd, "signal: ");
    writeNumber(fd, static_cast<unsigned>(number));
    writeText(fd, "\n");
    const char* type = pendingType.load();
    writeText(fd, "type: ");
    writeText(fd, type && number == SIGABRT ? type : fatalSignalName(number));
    writeText(fd, "\n");

    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    writeText(fd, "time: ");
    writeNumber(fd, static_cast<unsigned long long>(now.tv_sec));
    writeText(fd, ".");
    writeNumber(fd, static_cast<unsigned long long>(now.tv_nsec), 9);
    writeText(fd, "\n");

    // A fault the kernel raised (not a signal another process sent) names the address.
    if (info && info->si_code > 0 && (number == SIGSEGV || number == SIGBUS)) {
        writeText(fd, "address: ");
        writeHex(fd, reinterpret_cast<unsigned long long>(info->si_addr));
        writeText(fd, "\n");
    }
    if (const std::size_t length = pendingMessageLength.load(); length > 0) {
        writeText(fd, "message: ");
        writeAll(fd, pendingMessage, length);
        writeText(fd, "\n");
    }

    void* frames[maxFrames];
    const int count = ::backtrace(frames, maxFrames);
    for (int i = 0; i < count; ++i) {
        writeText(fd, "frame: ");
        ::backtrace_symbols_fd(&frames[i], 1, fd); // ends its line
    }
    writeText(fd, "end\n");
}

[[noreturn]] void raiseWithDefaultAction(int number)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(number, &action, nullptr);
    // Blocked while this handler runs: delivered when it returns, or at once after unblocking.
    ::raise(number);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::_exit(128 + number); // not reached
}

void onFatalSignal(int number, siginfo_t* info, void*)
{
    const long self = ::syscall(SYS_gettid);
    long expected = 0;
    if (!writingThread.compare_exchange_strong(expected, self)) {
        // Another thread writes the report and ends the process; a fault while writing ends it now.
        if (expected != self)
            for (;;)
                ::pause();
        raiseWithDefaultAction(number);
    }
    if (PreparedReport* report = prepared.exchange(nullptr); report && report->fd >= 0) {
        writeReport(*report, number, info);
        ::close(report->fd);
    }
    raiseWithDefaultAction(number);
}

// Keeps `type` and `message` for the SIGABRT that follows. Not in a signal handler, but the heap
// may be damaged: the message is escaped into a fixed buffer.
void recordFatal(const char* type, const char* message, std::size_t size)
{
    std::size_t length = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = message[i];
        const char* escaped = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : nullptr;
        const std::size_t needed = escaped ? 2 : 1;
        if (length + needed > messageCapacity)
            break;
        if (escaped) {
            pendingMessage[length++] = escaped[0];
            pendingMessage[length++] = escaped[1];
        } else {
            pendingMessage[length++] = c;
        }
    }
    pendingMessageLength.store(length);
    pendingType.store(type);
}

void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        const QByteArray utf8 = message.toUtf8();
        recordFatal("qFatal", utf8.constData(), static_cast<std::size_t>(utf8.size()));
    }
    if (previousMessageHandler) {
        previousMessageHandler(type, context, message);
        return;
    }
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}

// "<type>: <what>" of the exception being handled, if any.
std::string currentExceptionMessage()
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return "std::terminate called without an active exception";
    std::string type = "an exception of unknown type";
    if (const std::type_info* info = abi::__cxa_current_exception_type()) {
        int status = -1;
        char* demangled = abi::__cxa_demangle(info->name(), nullptr, nullptr, &status);
        type = status == 0 && demangled ? demangled : info->name();
        std::free(demangled);
    }
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& exception) {
        return type + ": " + exception.what();
    } catch (...) {
        return type;
    }
}

[[noreturn]] void onTerminate()
{
    const std::string message = currentExceptionMessage();
    recordFatal("terminate", message.data(), message.size());
    if (previousTerminate)
        previousTerminate(); // the standard one prints the exception, then aborts
    std::abort();
}

// Closes and removes the prepared file unless a handler has taken it.
void discard(PreparedReport* report)
{
    if (!report)
        return;
    ::close(report->fd);
    ::unlink(report->path.constData());
}

void discardAtExit()
{
    discard(prepared.exchange(nullptr));
}

QByteArray headerOf(const AppIdentity& app)
{
    struct utsname system {};
    ::uname(&system);
    QByteArray header = QByteArray(reportMagic) + '\n';
    const auto line = [&header](const char* key, const QByteArray& value) {
        header += key;
        header += ": ";
        header += escapeReportValue(value);
        header += '\n';
    };
    line("event-id", QUuid::createUuid().toByteArray(QUuid::Id128));
    line("pid", QByteArray::number(QCoreApplication::applicationPid()));
    line("app", app.name.toUtf8());
    line("version", app.version.toUtf8());
    line("build", app.build.toUtf8());
    line("environment", app.environment.toUtf8());
    line("os-name", system.sysname);
    line("os-release", system.release);
    line("os-version", system.version);
    line("machine", system.machine);
    return header;
}

bool installHandlers(QString* error)
{
    // backtrace() loads the unwinder on first use, which allocates: never in a handler.
    void* frames[4];
    ::backtrace(frames, 4);

    stack_t current {};
    if (::sigaltstack(nullptr, &current) == 0 && ((current.ss_flags & SS_DISABLE) || current.ss_size < alternateStackSize)) {
        stack_t stack {};
        stack.ss_sp = alternateStack;
        stack.ss_size = alternateStackSize;
        ::sigaltstack(&stack, nullptr);
    }
    struct sigaction action {};
    action.sa_sigaction = &onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (const int number : fatalSignals) {
        if (::sigaction(number, &action, nullptr) != 0) {
            if (error)
                *error = QStringLiteral("The handler of %1 could not be installed (errno %2).")
                             .arg(QLatin1String(fatalSignalName(number)))
                             .arg(errno);
            return false;
        }
    }
    previousTerminate = std::set_terminate(&onTerminate);
    previousMessageHandler = qInstallMessageHandler(&onQtMessage);
    std::atexit(&discardAtExit);
    return true;
}

} // namespace

std::optional<QString> installCrashHandlers(const AppIdentity& app, const QString& folder, QString* error)
{
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("The folder of crash reports %1 could not be created.").arg(folder);
        return std::nullopt;
    }
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString name = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QLatin1Char('-')
                         + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-')
                         + QString::number(++preparedCount) + reportSuffix;
    const QString path = QDir(folder).filePath(name);
    auto report = std::make_unique<PreparedReport>();
    report->path = QFile::encodeName(path);
    report->header = headerOf(app);
    report->fd = ::open(report->path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (report->fd < 0) {
        if (error)
            *error = QStringLiteral("The crash report %1 could not be created: %2.")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    if (!installed) {
        if (!installHandlers(error)) {
            discard(report.get());
            return std::nullopt;
        }
        installed = true;
    }
    discard(prepared.exchange(report.release()));
    return path;
}

QString preparedReportPath()
{
    const PreparedReport* report = prepared.load();
    return report ? QFile::decodeName(report->path) : QString();
}

void discardPreparedReport()
{
    discardAtExit();
}

const char* fatalSignalName(int number)
{
    switch (number) {
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    default: return "signal";
    }
}

} // namespace vantrel::crash_reporting
