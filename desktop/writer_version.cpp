// Reading the writer's version from the start of Kdenlive, Ardour and Blender files.

#include "desktop/writer_version.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

namespace vantrel {

namespace {

std::optional<QString> nonEmpty(const QString& text)
{
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed);
}

// Kdenlive records its version in a property of the project bin playlist; projects of
// Kdenlive 0.9 and older carry it on the kdenlivedoc element.
std::optional<QString> kdenliveWriterVersion(const QByteArray& head)
{
    QXmlStreamReader xml(head);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("kdenlivedoc")) {
            if (auto version = nonEmpty(xml.attributes().value(QLatin1String("kdenliveversion")).toString()))
                return version;
        } else if (xml.name() == QLatin1String("property")
                   && xml.attributes().value(QLatin1String("name"))
                          == QLatin1String("kdenlive:docproperties.kdenliveversion")) {
            const QString text = xml.readElementText();
            // A value cut off at the end of what was read does not count.
            return xml.hasError() ? std::nullopt : nonEmpty(text);
        }
    }
    return std::nullopt;
}

// Ardour sessions start with <ProgramVersion created-with="Ardour 8.4" modified-with="...">.
std::optional<QString> ardourWriterVersion(const QByteArray& head)
{
    QXmlStreamReader xml(head);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("ProgramVersion"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        QString program = attributes.value(QLatin1String("modified-with")).toString().trimmed();
        if (program.isEmpty())
            program = attributes.value(QLatin1String("created-with")).toString().trimmed();
        const qsizetype space = program.indexOf(QLatin1Char(' '));
        return nonEmpty(space < 0 ? program : program.mid(space + 1));
    }
    return std::nullopt;
}

// Uncompressed Blender files start with "BLENDER", the pointer size ('_' or '-'), the byte order
// ('v' or 'V') and three digits of the version: "279" is 2.79, "402" is 4.2.
std::optional<QString> blenderWriterVersion(const QByteArray& head)
{
    if (head.size() < 12 || !head.startsWith("BLENDER") || (head[7] != '_' && head[7] != '-')
        || (head[8] != 'v' && head[8] != 'V'))
        return std::nullopt;
    for (int index = 9; index < 12; ++index) {
        if (head[index] < '0' || head[index] > '9')
            return std::nullopt;
    }
    const int major = head[9] - '0';
    const int minor = (head[10] - '0') * 10 + (head[11] - '0');
    return major < 3 ? QStringLiteral("%1.%2").arg(major).arg(minor, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1.%2").arg(major).arg(minor);
}

} // namespace

std::optional<QString> readWriterVersion(WriterFormat format, const QString& path)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(64 * 1024);
    switch (format) {
    case WriterFormat::kdenliveProject:
        return kdenliveWriterVersion(head);
    case WriterFormat::ardourSession:
        return ardourWriterVersion(head);
    case WriterFormat::blenderProject:
        return blenderWriterVersion(head);
    }
    Q_UNREACHABLE();
}

} // namespace vantrel
