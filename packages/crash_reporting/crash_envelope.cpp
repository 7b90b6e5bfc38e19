#include "packages/crash_reporting/crash_envelope.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace vantrel::crash_reporting {

namespace {

QString hex(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

QString timestamp(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// What the user reads when the crash carried no message of its own.
QString signalDescription(const CrashReport& report)
{
    if (report.type == QLatin1String("SIGSEGV"))
        return QStringLiteral("Segmentation fault");
    if (report.type == QLatin1String("SIGABRT"))
        return QStringLiteral("Aborted");
    if (report.type == QLatin1String("SIGBUS"))
        return QStringLiteral("Bus error");
    if (report.type == QLatin1String("SIGILL"))
        return QStringLiteral("Illegal instruction");
    if (report.type == QLatin1String("SIGFPE"))
        return QStringLiteral("Floating-point exception");
    return QStringLiteral("Fatal signal %1").arg(report.signal);
}

QJsonArray stackFrames(const CrashReport& report)
{
    QJsonArray frames;
    for (auto frame = report.frames.crbegin(); frame != report.frames.crend(); ++frame) {
        QJsonObject object;
        if (!frame->function.isEmpty())
            object.insert(QStringLiteral("function"), frame->function);
        if (!frame->module.isEmpty())
            object.insert(QStringLiteral("package"), frame->module);
        object.insert(QStringLiteral("instruction_addr"), hex(frame->address));
        frames.append(object);
    }
    return frames;
}

} // namespace

QJsonObject crashEvent(const CrashReport& report)
{
    const AppIdentity& app = report.app;
    QJsonObject signalInfo{{QStringLiteral("number"), report.signal},
                       {QStringLiteral("name"), QString::fromLatin1(fatalSignalName(report.signal))}};
    QJsonObject mechanism{{QStringLiteral("type"), QStringLiteral("signalhandler")},
                          {QStringLiteral("handled"), false},
                          {QStringLiteral("meta"), QJsonObject{{QStringLiteral("signal"), signalInfo}}}};
    if (report.faultAddress)
        mechanism.insert(QStringLiteral("data"),
                         QJsonObject{{QStringLiteral("fault_address"), hex(*report.faultAddress)}});
    QJsonObject exception{{QStringLiteral("type"), report.type},
                          {QStringLiteral("value"), report.message.isEmpty() ? signalDescription(report) : report.message},
                          {QStringLiteral("mechanism"), mechanism}};
    if (!report.frames.isEmpty())
        exception.insert(QStringLiteral("stacktrace"), QJsonObject{{QStringLiteral("frames"), stackFrames(report)}});

    QJsonObject os{{QStringLiteral("name"), report.osName},
                   {QStringLiteral("version"), report.osRelease},
                   {QStringLiteral("kernel_version"), report.osVersion}};
    QJsonObject device{{QStringLiteral("arch"), report.machine}};

    QJsonObject event{
        {QStringLiteral("event_id"), report.eventId},
        {QStringLiteral("platform"), QStringLiteral("native")},
        {QStringLiteral("level"), QStringLiteral("fatal")},
        {QStringLiteral("logger"), QStringLiteral("vantrel.crash")},
        {QStringLiteral("release"), app.name + QLatin1Char('@') + app.version + QLatin1Char('+') + app.build},
        {QStringLiteral("environment"), app.environment},
        {QStringLiteral("exception"), QJsonObject{{QStringLiteral("values"), QJsonArray{exception}}}},
        {QStringLiteral("contexts"), QJsonObject{{QStringLiteral("os"), os}, {QStringLiteral("device"), device}}},
        {QStringLiteral("tags"), QJsonObject{{QStringLiteral("release_type"), app.environment},
                                             {QStringLiteral("build"), app.build},
                                             {QStringLiteral("crash_type"), report.type},
                                             {QStringLiteral("complete"), report.complete ? QStringLiteral("yes")
                                                                                          : QStringLiteral("no")}}},
    };
    if (report.time.isValid())
        event.insert(QStringLiteral("timestamp"), timestamp(report.time));
    return event;
}

QByteArray crashEnvelope(const CrashReport& report, const CrashDsn& dsn, const QDateTime& sentAt)
{
    const QByteArray event = QJsonDocument(crashEvent(report)).toJson(QJsonDocument::Compact);
    const QJsonObject header{{QStringLiteral("event_id"), report.eventId},
                             {QStringLiteral("dsn"), dsn.text()},
                             {QStringLiteral("sent_at"), timestamp(sentAt)}};
    const QJsonObject itemHeader{{QStringLiteral("type"), QStringLiteral("event")},
                                 {QStringLiteral("content_type"), QStringLiteral("application/json")},
                                 {QStringLiteral("length"), event.size()}};
    return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n'
           + QJsonDocument(itemHeader).toJson(QJsonDocument::Compact) + '\n' + event + '\n';
}

} // namespace vantrel::crash_reporting
