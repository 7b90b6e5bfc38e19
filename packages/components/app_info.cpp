#include "packages/components/app_info.h"

#include "app_info_values.h"

#include <QFile>
#include <QGuiApplication>
#include <QStringList>

namespace vantrel {

namespace {

const QString missing = QStringLiteral("-");

QString stringOrMissing(const QVariantMap& information, const QString& key)
{
    const auto found = information.constFind(key);
    if (found == information.constEnd() || found->typeId() != QMetaType::QString)
        return missing;
    return found->toString();
}

// A list whose every element is a string, as a string list; anything else gives none.
std::optional<QStringList> stringList(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList strings;
    for (const QVariant& element : value.toList()) {
        if (element.typeId() != QMetaType::QString)
            return std::nullopt;
        strings.append(element.toString());
    }
    return strings;
}

// The first scheme of the first URL type; only those two are ever looked at.
std::optional<QString> firstURLScheme(const QVariantMap& information)
{
    const QVariant types = information.value(AppInfo::urlTypesKey);
    if (types.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = types.toList();
    if (list.isEmpty() || list.first().typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const auto schemes = stringList(list.first().toMap().value(AppInfo::urlSchemesKey));
    if (!schemes || schemes->isEmpty())
        return std::nullopt;
    return schemes->first();
}

// The application's own image, else the icon the application shows for its windows.
QIcon applicationIcon()
{
    for (const auto* path : {":/AppIcon.svg", ":/AppIcon.png"}) {
        if (QFile::exists(QString::fromLatin1(path)))
            return QIcon(QString::fromLatin1(path));
    }
    return qGuiApp ? QGuiApplication::windowIcon() : QIcon();
}

} // namespace

AppInfo::AppInfo(QString name, QIcon icon, QString version, QString buildNumber, QString bundleId,
                 std::optional<QString> urlScheme)
    : m_name(std::move(name)),
      m_icon(std::move(icon)),
      m_version(std::move(version)),
      m_buildNumber(std::move(buildNumber)),
      m_bundleId(std::move(bundleId)),
      m_releaseType(releaseTypeOf(m_version)),
      m_urlScheme(std::move(urlScheme))
{
}

AppInfo::ReleaseType AppInfo::releaseTypeOf(const QString& version)
{
    if (version.endsWith(QChar(0x03B1)))
        return ReleaseType::alpha;
    if (version.endsWith(QChar(0x03B2)))
        return ReleaseType::beta;
    return ReleaseType::production;
}

std::optional<AppInfo> AppInfo::fromInformation(const std::optional<QVariantMap>& information)
{
    if (!information)
        return std::nullopt;
    const QVariantMap& values = *information;
    return AppInfo(stringOrMissing(values, nameKey), applicationIcon(), stringOrMissing(values, versionKey),
                   stringOrMissing(values, buildNumberKey), stringOrMissing(values, bundleIdKey),
                   firstURLScheme(values));
}

QVariantMap AppInfo::applicationInformation()
{
    const auto text = [](const char* value) { return QString::fromUtf8(value); };
    QVariantMap urlType;
    urlType.insert(urlSchemesKey, QStringList{text(app_info_values::urlScheme)});
    return {
        {nameKey, text(app_info_values::name)},
        {versionKey, text(app_info_values::version)},
        {buildNumberKey, text(app_info_values::buildNumber)},
        {bundleIdKey, text(app_info_values::bundleId)},
        {urlTypesKey, QVariantList{urlType}},
    };
}

const AppInfo& AppInfo::shared()
{
    // The application's information is compiled in, so it is always there.
    static const AppInfo value = *fromInformation(applicationInformation());
    return value;
}

AppInfo AppInfo::preview()
{
    return AppInfo(QStringLiteral("PreviewAppName"), QIcon::fromTheme(QStringLiteral("view-fullscreen")),
                   QStringLiteral("13.37"), QStringLiteral("1337"), QStringLiteral("preview.bundle.id"), std::nullopt);
}

} // namespace vantrel
