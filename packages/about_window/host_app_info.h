#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>

namespace vantrel {

// What the about window reads about the application that embeds it: its information entries
// ("CFBundleName", "CFBundleShortVersionString", "CFBundleVersion", "NSHumanReadableCopyright")
// and its resources ("Credits" and "Acknowledgments" of type "rtf"). Everything is read afresh
// at each access; a missing entry, or one that is not a string, reads as "".
class HostAppInfo {
public:
    HostAppInfo() = delete;

    // The entry under a key; an invalid value when there is none.
    using InformationSource = std::function<QVariant(const QString& key)>;
    // The path of a resource (a file, or a compiled-in ":/" resource); "" when there is none.
    using ResourceLocator = std::function<QString(const QString& name, const QString& type)>;

    static QString name();
    // "Version <short version> (Build <build>)".
    static QString version();
    static QString copyright();
    // The file URL of the "Acknowledgments" document; a mailto URL to the support address when
    // the application has none. A compiled-in document is copied to the temporary folder first,
    // so that the desktop's handlers can open it.
    static QUrl acknowledgmentsURL();

    // The host's entries. Until one is installed (or after installing an empty one):
    // applicationInformation() without entries of its own.
    static void setInformationSource(InformationSource source);
    // `entries` first; then "CFBundleName" is the application's name and
    // "CFBundleShortVersionString" its version as QCoreApplication knows them.
    static InformationSource applicationInformation(QVariantMap entries = {});

    // The host's resources. Until one is installed (or after installing an empty one):
    // compiledResourcePath().
    static void setResourceLocator(ResourceLocator locator);
    static QString resourcePath(const QString& name, const QString& type);
    // ":/Resources/<name>.<type>" when the program was built with it.
    static QString compiledResourcePath(const QString& name, const QString& type);

    // The acknowledgements e-mail used when there is no acknowledgements document.
    static QUrl supportMailURL();
    // A mailto URL with its subject encoded as mail programs expect it (spaces as %20, "&", "+"
    // and "=" escaped, other characters as UTF-8).
    static QUrl mailtoURL(const QString& address, const QString& subject = {});

private:
    static QString string(const QString& key);
};

// The credits document of the host application.
class QorAppCredits {
public:
    QorAppCredits() = delete;

    // The characters of the resource "Credits" of type "rtf", read afresh at each call. An
    // unreadable or non-RTF file gives "" silently; a missing resource gives "" and a warning,
    // so that a packaging mistake shows in the log without stopping the application.
    static QString credits();
};

} // namespace vantrel
