// The record of the application of a document, kept with its versions, and what the engine tells
// the desktop of a document's type to find that application.

#pragma once

#include "desktop/installed_application.h"
#include "engine/document_type.h"

#include <QJsonValue>
#include <QString>

#include <optional>

namespace vantrel {

struct FileKind;

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

// The version of the application that wrote the document at `path`, for the types whose format
// records it near the start of the file (Kdenlive projects, Ardour sessions, Blender files; see
// desktop/writer_version.h). Absent for every other type, and when the file does not tell.
std::optional<QString> readWriterVersion(const DocumentType& type, const QString& path);

// What the desktop is to open the file at `path` as: the MIME types of the document type its
// name gives, known unless the table of types has no type for it (see SystemWorkspace).
FileKind fileKindOf(const QString& path);

} // namespace vantrel
