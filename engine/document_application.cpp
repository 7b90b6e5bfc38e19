#include "engine/document_application.h"

#include "desktop/system_services.h"
#include "desktop/writer_version.h"
#include "foundation/json_coding.h"

#include <QJsonObject>

#include <algorithm>

namespace vantrel {

namespace {

// Orders two parts of a dotted version: a leading number numerically, the rest as text.
int compareVersionParts(const QString& a, const QString& b)
{
    const auto digitCount = [](const QString& text) {
        return qsizetype(std::find_if(text.begin(), text.end(), [](QChar c) { return !c.isDigit(); }) - text.begin());
    };
    const qsizetype aDigits = digitCount(a);
    const qsizetype bDigits = digitCount(b);
    if (aDigits > 0 && bDigits > 0) {
        // Compare the numbers as digit strings without leading zeros, so no size can overflow.
        const auto number = [](const QString& text, qsizetype digits) {
            qsizetype start = 0;
            while (start < digits - 1 && text.at(start) == QLatin1Char('0'))
                ++start;
            return text.mid(start, digits - start);
        };
        const QString aNumber = number(a, aDigits);
        const QString bNumber = number(b, bDigits);
        if (aNumber.size() != bNumber.size())
            return aNumber.size() < bNumber.size() ? -1 : 1;
        if (const int order = aNumber.compare(bNumber); order != 0)
            return order < 0 ? -1 : 1;
        const int order = a.mid(aDigits).compare(b.mid(bDigits));
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// Orders two dotted versions over the parts both have, so that a version given to fewer parts
// is not taken for an older one.
int compareVersions(const QString& a, const QString& b)
{
    const QStringList aParts = a.trimmed().split(QLatin1Char('.'));
    const QStringList bParts = b.trimmed().split(QLatin1Char('.'));
    const qsizetype common = std::min(aParts.size(), bParts.size());
    for (qsizetype index = 0; index < common; ++index) {
        if (const int order = compareVersionParts(aParts.at(index), bParts.at(index)); order != 0)
            return order;
    }
    return 0;
}

} // namespace

DocumentApplication DocumentApplication::empty(const DocumentType& documentType)
{
    const QString name = documentType.appName().trimmed();
    return {documentType, name.isEmpty() ? std::nullopt : std::optional<QString>(name), std::nullopt, std::nullopt};
}

DocumentApplication DocumentApplication::none()
{
    return {};
}

bool DocumentApplication::itemUpdateNeeded() const
{
    return writerVersion && installed && installed->version && compareVersions(*installed->version, *writerVersion) > 0;
}

std::optional<QString> DocumentApplication::incompatibleVersion() const
{
    if (!writerVersion || (installed && installed->version && *installed->version == *writerVersion))
        return std::nullopt;
    return writerVersion;
}

QJsonValue DocumentApplication::toJson() const
{
    return QJsonObject{
        {QStringLiteral("documentType"), documentType.toJson()},
        {QStringLiteral("name"), JsonCoding<std::optional<QString>>::encode(name)},
        {QStringLiteral("writerVersion"), JsonCoding<std::optional<QString>>::encode(writerVersion)},
        {QStringLiteral("installed"), JsonCoding<std::optional<InstalledApplication>>::encode(installed)},
    };
}

DocumentApplication DocumentApplication::fromJson(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("Expected a document application object."));
    const QJsonObject object = json.toObject();
    return {
        DocumentType::fromJson(object.value(QStringLiteral("documentType"))),
        JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("name"))),
        JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("writerVersion"))),
        JsonCoding<std::optional<InstalledApplication>>::decode(object.value(QStringLiteral("installed"))),
    };
}

std::optional<QString> readWriterVersion(const DocumentType& type, const QString& path)
{
    switch (type.kind()) {
    case DocumentType::Case::kdenliveProject:
        return readWriterVersion(WriterFormat::kdenliveProject, path);
    case DocumentType::Case::ardourSession:
        return readWriterVersion(WriterFormat::ardourSession, path);
    case DocumentType::Case::blenderProject:
        return readWriterVersion(WriterFormat::blenderProject, path);
    default:
        return std::nullopt;
    }
}

FileKind fileKindOf(const QString& path)
{
    const DocumentType type = DocumentType::forPath(path);
    return {type.mimeTypes(), !type.isOtherFile()};
}

} // namespace vantrel
