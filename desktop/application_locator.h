// Which installed application opens files of given MIME types: the desktop's choice, else the
// desktop entries of the applications folders.

#pragma once

#include "desktop/installed_application.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantrel {

// Finds the application that opens files of a kind, given by its MIME types. The locator of this
// session asks the desktop first, as a file manager would: the user's default application for the
// MIME types (mimeapps.list, the desktop entries, parent types such as plain text for subtitles).
// When the desktop names none, and always for a locator given its own folders, it looks through
// the desktop entries of the folders itself. The desktop is asked at each find(); the entries of
// the folders are read once and kept, and what they give is cached until findAfresh() or reload().
// Safe to use from several threads.
class ApplicationLocator {
public:
    // Asks the desktop, then searches the applications folders of this session
    // (standardApplicationFolders()).
    ApplicationLocator();
    // Searches `applicationFolders` only; an entry in an earlier folder hides one with the same
    // id in a later folder.
    explicit ApplicationLocator(QStringList applicationFolders);

    // The locator of this session, shared by everything that asks.
    static ApplicationLocator& desktop();

    // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS/applications, with the
    // defaults of the base directory rules when unset.
    static QStringList standardApplicationFolders();

    // The desktop's choice (see above), else the application whose desktop entry handles one of
    // `mimeTypes`, preferring earlier MIME types, then entries shown in menus, then earlier
    // folders. Hidden entries and entries that are not applications do not count.
    std::optional<InstalledApplication> find(const QStringList& mimeTypes) const;
    // The same, asked again rather than taken from what was kept (which it then replaces): the
    // user may have chosen another default, or installed an application, since.
    std::optional<InstalledApplication> findAfresh(const QStringList& mimeTypes);
    // Forgets what was read, so that the next find() sees newly installed applications.
    void reload();

private:
    struct DesktopEntry {
        QString id;
        QString name;
        QStringList mimeTypes;
        std::optional<QString> version;
        bool noDisplay = false;
        qsizetype folderIndex = 0;
    };

    QList<DesktopEntry> readEntries() const;

    QStringList m_folders;
    bool m_asksDesktop = false;
    mutable QMutex m_mutex;
    mutable std::optional<QList<DesktopEntry>> m_entries;
    mutable QHash<QStringList, std::optional<InstalledApplication>> m_found;
};

} // namespace vantrel
