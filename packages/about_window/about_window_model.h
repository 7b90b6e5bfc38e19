#pragma once

#include "foundation/observable_object.h"

#include <QPixmap>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace vantrel {

// The two contact links of the about window.
struct ContactInfo {
    QString emailDescription;         // the address written out
    QUrl email;                       // a mailto URL
    QString twitterHandleDescription; // the handle, beginning with "@"
    QUrl twitterHandle;               // the profile's web address
};

// Everything the about window shows besides the icon, exactly as shown. The model checks nothing:
// empty strings stay empty.
struct AboutWindowSettings {
    QString appName;
    QString appVersion;
    QString copyright;
    QUrl appWebsite;
    QString credits; // the characters of the credits document, without formatting
    ContactInfo contactInfo;
    QUrl acknowledgments;
};

// The model of the about window of whatever application embeds it. Only the icon can change after
// creation; every link of the window is opened through `openURL`, and opening one changes nothing.
// Views and the window controller share the model through a std::shared_ptr.
class QorAboutWindow : public ObservableObject {
    Q_OBJECT
public:
    using OpenURL = std::function<void(const QUrl&)>;

    QorAboutWindow(AboutWindowSettings settings, QPixmap appIcon, OpenURL openURL);

    // The model for the maker's product Brackwen: the host's name, version line, copyright,
    // credits and acknowledgements (HostAppInfo, QorAppCredits) with Brackwen's contact links;
    // links open with the desktop's handlers.
    static std::shared_ptr<QorAboutWindow> forBrackwen(const QUrl& appWebsiteURL, const QPixmap& appIcon);

    const AboutWindowSettings& settings() const { return m_settings; }
    const OpenURL& openURL() const { return m_openURL; }

    // Replacing it emits objectWillChange() first, then appIconChanged().
    Published<QPixmap> appIcon;

    // The actions of the window's buttons and links.
    void openWebsite() const { m_openURL(m_settings.appWebsite); }
    void openAcknowledgments() const { m_openURL(m_settings.acknowledgments); }
    void openEmail() const { m_openURL(m_settings.contactInfo.email); }
    void openTwitterHandle() const { m_openURL(m_settings.contactInfo.twitterHandle); }

    // Button titles, looked up in the application's translations.
    QString websiteButtonTitle() const;
    static QString acknowledgmentsButtonTitle();

Q_SIGNALS:
    void appIconChanged();

private:
    const OpenURL m_openURL;
    const AboutWindowSettings m_settings;
};

} // namespace vantrel
