#include "packages/about_window/host_app_info.h"

#include "packages/about_window/rtf_reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtDebug>

// Outside any namespace, as Q_INIT_RESOURCE requires: the resources live in a static library,
// whose unreferenced objects the linker would otherwise drop.
static void initAboutWindowResources()
{
    static const bool initialised = [] {
        Q_INIT_RESOURCE(about_window_resources);
        return true;
    }();
    Q_UNUSED(initialised);
}

namespace vantrel {

namespace {

HostAppInfo::InformationSource& installedInformation()
{
    static HostAppInfo::InformationSource source;
    return source;
}

HostAppInfo::ResourceLocator& installedLocator()
{
    static HostAppInfo::ResourceLocator locator;
    return locator;
}

} // namespace

QString HostAppInfo::string(const QString& key)
{
    const InformationSource& installed = installedInformation();
    const QVariant value = installed ? installed(key) : applicationInformation()(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QString HostAppInfo::name()
{
    return string(QStringLiteral("CFBundleName"));
}

QString HostAppInfo::version()
{
    return QStringLiteral("Version ") + string(QStringLiteral("CFBundleShortVersionString"))
           + QStringLiteral(" (Build ") + string(QStringLiteral("CFBundleVersion")) + QLatin1Char(')');
}

QString HostAppInfo::copyright()
{
    return string(QStringLiteral("NSHumanReadableCopyright"));
}

QUrl HostAppInfo::acknowledgmentsURL()
{
    const QString path = resourcePath(QStringLiteral("Acknowledgments"), QStringLiteral("rtf"));
    if (path.isEmpty())
        return supportMailURL();
    if (!path.startsWith(QLatin1Char(':')))
        return QUrl::fromLocalFile(path);

    // The user's own cache folder, never a shared temporary folder another account could prepare.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QLatin1Char('/')
                           + (QCoreApplication::applicationName().isEmpty()
                                  ? QStringLiteral("about-window")
                                  : QCoreApplication::applicationName() + QStringLiteral("-about"));
    const QString copy = QDir(folder).filePath(QStringLiteral("Acknowledgments.rtf"));
    QFile::remove(copy);
    if (!QDir().mkpath(folder) || !QFile::copy(path, copy)) {
        qWarning().noquote() << "Unable to copy the Acknowledgments document to" << copy;
        return supportMailURL();
    }
    return QUrl::fromLocalFile(copy);
}

void HostAppInfo::setInformationSource(InformationSource source)
{
    installedInformation() = std::move(source);
}

HostAppInfo::InformationSource HostAppInfo::applicationInformation(QVariantMap entries)
{
    return [entries = std::move(entries)](const QString& key) -> QVariant {
        if (const auto found = entries.constFind(key); found != entries.cend())
            return *found;
        if (key == QLatin1String("CFBundleName"))
            return QCoreApplication::applicationName();
        if (key == QLatin1String("CFBundleShortVersionString"))
            return QCoreApplication::applicationVersion();
        return {};
    };
}

void HostAppInfo::setResourceLocator(ResourceLocator locator)
{
    installedLocator() = std::move(locator);
}

QString HostAppInfo::resourcePath(const QString& name, const QString& type)
{
    const ResourceLocator& installed = installedLocator();
    return installed ? installed(name, type) : compiledResourcePath(name, type);
}

QString HostAppInfo::compiledResourcePath(const QString& name, const QString& type)
{
    initAboutWindowResources();
    const QString path = QStringLiteral(":/Resources/") + name + QLatin1Char('.') + type;
    return QFile::exists(path) ? path : QString();
}

QUrl HostAppInfo::supportMailURL()
{
    return mailtoURL(QStringLiteral("support@vantrel.app"), QStringLiteral("Acknowledgements"));
}

QUrl HostAppInfo::mailtoURL(const QString& address, const QString& subject)
{
    QString url = QStringLiteral("mailto:") + QString::fromUtf8(QUrl::toPercentEncoding(address, "@"));
    if (!subject.isEmpty())
        url += QStringLiteral("?subject=") + QString::fromUtf8(QUrl::toPercentEncoding(subject));
    return QUrl::fromEncoded(url.toUtf8(), QUrl::StrictMode);
}

QString QorAppCredits::credits()
{
    const QString path = HostAppInfo::resourcePath(QStringLiteral("Credits"), QStringLiteral("rtf"));
    if (path.isEmpty()) {
        qWarning("Unable to find Credits file resource; the about window shows no credits");
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return rtfPlainText(file.readAll()).value_or(QString());
}

} // namespace vantrel
