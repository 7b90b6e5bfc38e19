#pragma once

#include "engine/document_type.h"

#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantrel {

// A creative application found installed on this computer.
struct InstalledApplication {
    QString name;
    // Known only when the desktop entry records it (key X-Vantrel-Version).
    std::optional<QString> version;
    // The freedesktop desktop file id, e.g. "org.kde.kdenlive.desktop".
    QString desktopEntryId;

    QJsonValue toJson() const;
    static InstalledApplication fromJson(const QJsonValue& json);

    friend bool operator==(const InstalledApplication&, const InstalledApplication&) = default;
};

// The record of the creative application for an item or for one of its versions.
struct DocumentApplication {
    DocumentType documentType;
    // The application's name for people, e.g. "Kdenlive".
    std::optional<QString> name;
    // The version of the application that wrote the document, when known.
    std::optional<QString> writerVersion;
    // The application that opens the document here; absent when none is installed.
    std::optional<InstalledApplication> installed;

    // What an item of `documentType` starts with before anything was looked up: the type's
    // application name, nothing known of versions, nothing installed.
    static DocumentApplication empty(const DocumentType& documentType);
    // No information tied to a type, as given to imports.
    static DocumentApplication none();

    bool isInstalled() const { return installed.has_value(); }
    // Whether opening the document in the installed application would upgrade it, so that the
    // version that wrote it could no longer read it: the installed version is newer than the
    // writer's. Versions compare as dotted numbers, text parts as text; a version given with
    // fewer parts is equal to any that it is a prefix of ("24.02" and "24.02.1").
    bool itemUpdateNeeded() const;
    // The writer's version when it is not known to match the installed application's version:
    // absent when the writer's version is unknown or equals the installed version exactly; the
    // writer's version when the two differ or nothing is known of what is installed.
    std::optional<QString> incompatibleVersion() const;

    QJsonValue toJson() const;
    static DocumentApplication fromJson(const QJsonValue& json);

    friend bool operator==(const DocumentApplication&, const DocumentApplication&) = default;
};

// Finds the application that opens a document type. The locator of this session asks the desktop
// first, as a file manager would: the user's default application for the type's MIME types
// (mimeapps.list, the desktop entries, parent types such as plain text for subtitles). When the
// desktop names none, and always for a locator given its own folders, it looks through the
// desktop entries of the folders itself. Entries are read once and kept; results are cached
// until findAfresh() or reload().
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
    // the type's MIME types, preferring the type's earlier MIME types, then entries shown in
    // menus, then earlier folders. Hidden entries and entries that are not applications do not
    // count.
    std::optional<InstalledApplication> find(const DocumentType& type) const;
    // The same, asked again rather than taken from what was kept (which it then replaces): the
    // user may have chosen another default, or installed an application, since.
    std::optional<InstalledApplication> findAfresh(const DocumentType& type);
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
    mutable QHash<DocumentType, std::optional<InstalledApplication>> m_found;
};

// The version of the application that wrote the document at `path`, for the formats that record
// it near the start of the file (Kdenlive projects, Ardour sessions, Blender files); reads at most
// the first 64 KiB. Absent when the format does not record it, it lies further in, or the file
// cannot be read.
std::optional<QString> readWriterVersion(const DocumentType& type, const QString& path);

} // namespace vantrel
