#pragma once

#include <QIcon>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace vantrel {

// The running application as menus and windows show it: name, icon, version, build number,
// bundle identifier, the release type read off the version, and the URL scheme of its deep
// links. A value never changes once built; copies share the icon.
class AppInfo {
public:
    enum class ReleaseType { alpha, beta, production };

    // Keys of the application's information. URLTypes holds a list of maps, each of which may
    // hold a list of schemes under URLSchemes.
    static inline const QString nameKey = QStringLiteral("BundleName");
    static inline const QString versionKey = QStringLiteral("BundleShortVersionString");
    static inline const QString buildNumberKey = QStringLiteral("BundleVersion");
    static inline const QString bundleIdKey = QStringLiteral("BundleIdentifier");
    static inline const QString urlTypesKey = QStringLiteral("BundleURLTypes");
    static inline const QString urlSchemesKey = QStringLiteral("BundleURLSchemes");

    // The release type is always derived from `version`.
    AppInfo(QString name, QIcon icon, QString version, QString buildNumber, QString bundleId,
            std::optional<QString> urlScheme);

    // Builds the value from an information map; no information gives no value. A missing key
    // or a value that is not a string reads as "-"; an empty string stays empty.
    static std::optional<AppInfo> fromInformation(const std::optional<QVariantMap>& information);

    // The information this build of the application was made with.
    static QVariantMap applicationInformation();

    // One value built from the application's information on first use and kept for the life
    // of the process; concurrent first reads build it once.
    static const AppInfo& shared();

    // A fixed value for design-time previews and tests.
    static AppInfo preview();

    // alpha when the version ends in α, beta when it ends in β, production otherwise.
    static ReleaseType releaseTypeOf(const QString& version);

    const QString& name() const { return m_name; }
    const QIcon& icon() const { return m_icon; }
    const QString& version() const { return m_version; }
    const QString& buildNumber() const { return m_buildNumber; }
    const QString& bundleId() const { return m_bundleId; }
    ReleaseType releaseType() const { return m_releaseType; }
    const std::optional<QString>& urlScheme() const { return m_urlScheme; }

private:
    QString m_name;
    QIcon m_icon;
    QString m_version;
    QString m_buildNumber;
    QString m_bundleId;
    ReleaseType m_releaseType;
    std::optional<QString> m_urlScheme;
};

constexpr bool isProduction(AppInfo::ReleaseType type)
{
    return type == AppInfo::ReleaseType::production;
}

} // namespace vantrel
