#pragma once

#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

// The kind of a document kept in a team bundle. A plain value: two types are equal when they are
// the same case with equal payloads.
//
// The descriptions (description, shortDescription, multipliedShortDescription, appName) are
// stable English strings: the application builds localization keys from them, so they are
// returned untranslated and must never change.
class DocumentType {
public:
    // A type defined by the team for files the engine does not know.
    struct Custom {
        QString identifier;
        QString name;
        QStringList fileExtensions; // lower case, without the dot
        bool isPackage = false;
        // The heading under which lists show documents of this type; absent for the default one.
        std::optional<QString> groupName;

        friend bool operator==(const Custom&, const Custom&) = default;
    };

    // The cases in their fixed order; code elsewhere relies on the position of each.
    enum class Case {
        unknown,         // an imported file of no known type, with its extension
        custom,          // a team-defined type
        collection,      // the container of documents; no file of its own
        library,         // the video-editing library package (.videolibrary)
        event,           // an event package inside a library (.videoevent)
        kdenliveProject, // Kdenlive project (.kdenlive)
        subtitles,       // subtitle file (.srt, .ass, .ssa, .vtt)
        textDocument,    // OpenDocument text (.odt)
        pdfDocument,     // PDF (.pdf)
        blenderProject,  // Blender file (.blend)
        ardourSession,   // Ardour session file (.ardour)
        resolveArchive,  // DaVinci Resolve project archive, a package folder (.dra)
        kritaBundle,     // Krita resource bundle (.bundle)
        kdenliveTitle,   // Kdenlive title clip (.kdenlivetitle)
    };

    // What the import picker of a container offers for one type.
    struct ContentType {
        QString identifier;
        QStringList mimeTypes;
        QStringList extensions;
        bool isPackage = false;

        friend bool operator==(const ContentType&, const ContentType&) = default;
    };

    // An unknown type with no extension.
    DocumentType() = default;

    // `extension` is kept lower-cased; "" when the file has none.
    static DocumentType unknown(const QString& extension);
    static DocumentType custom(const Custom& custom);
    static DocumentType collection();
    static DocumentType library();
    static DocumentType event();
    static DocumentType kdenliveProject();
    static DocumentType subtitles();
    static DocumentType textDocument();
    static DocumentType pdfDocument();
    static DocumentType blenderProject();
    static DocumentType ardourSession();
    static DocumentType resolveArchive();
    static DocumentType kritaBundle();
    static DocumentType kdenliveTitle();

    // The type of an imported file or package from its extension, without the dot, in any case.
    // An extension of no known type gives `unknown` with the extension lower-cased.
    static DocumentType fromFileExtension(const QString& extension);
    // The same, from the last suffix of the file or folder name at `path`.
    static DocumentType forPath(const QString& path);

    Case kind() const { return m_kind; }
    bool isCollection() const { return m_kind == Case::collection; }
    bool isLibrary() const { return m_kind == Case::library; }
    bool isEvent() const { return m_kind == Case::event; }

    // The extension of an `unknown` type; "" for every other case.
    QString unknownExtension() const;
    // The definition of a `custom` type; null for every other case.
    const Custom* customDefinition() const { return m_payload && m_payload->custom ? &*m_payload->custom : nullptr; }

    // Stable across releases: the custom type's own identifier for `custom`.
    QString identifier() const;
    QStringList fileExtensions() const;
    // The extension given to new files of this type; "" when the type has none.
    QString preferredExtension() const;
    // Those of the table; for an unknown file, and a custom type that is not a package, those the
    // desktop's MIME database gives its extensions.
    QStringList mimeTypes() const;
    // Whether the desktop alone knows what opens documents of this type: an unknown file, a
    // custom type. Documents of such a type open in the desktop's application for their kind.
    bool isOtherFile() const { return m_kind == Case::unknown || m_kind == Case::custom; }
    // Whether a document of this type is a folder treated as one document.
    bool isPackage() const;
    // A freedesktop icon name.
    QString iconName() const;
    // The icon of one document of this type, given the folder of its version bundle.
    QString icon(const QString& versionBundlePath) const;
    QString description() const;
    QString shortDescription() const;
    QString multipliedShortDescription() const;
    // The application that opens documents of this type.
    QString appName() const;

    // Whether documents of this type hold nested documents.
    bool allowsNesting() const;
    // The known types a container of this type holds (types defined at run time and unknown
    // files are not listed; canNest() decides for them).
    QList<DocumentType> nestableDocumentTypes() const;
    // Whether a document of type `child` may be nested in a container of this type.
    bool canNest(const DocumentType& child) const;
    // What the import picker of a container of this type offers.
    QList<ContentType> allowedContentTypes() const;
    // How many nested documents of type `ofType` a container of this type may hold.
    int nestedItemsLimit(const DocumentType& ofType) const;

    // {"type": identifier} plus "extension" for `unknown` and the definition for `custom`.
    QJsonValue toJson() const;
    // An identifier this client does not know (written by a newer one) reads as `unknown` with
    // no extension. Throws DecodingError on malformed data.
    static DocumentType fromJson(const QJsonValue& json);

    friend bool operator==(const DocumentType& a, const DocumentType& b)
    {
        if (a.m_kind != b.m_kind || a.extension() != b.extension())
            return false;
        const Custom* mine = a.customDefinition();
        const Custom* theirs = b.customDefinition();
        return mine == theirs || (mine && theirs && *mine == *theirs);
    }

private:
    // What a few cases carry besides their case. A type is copied into every bundle's state and
    // every summary of an index, so this is held once and shared by every copy.
    struct Payload {
        QString extension;            // of an `unknown` type; never empty
        std::optional<Custom> custom; // of a `custom` type
    };

    explicit DocumentType(Case kind) : m_kind(kind) {}
    const QString& extension() const;

    Case m_kind = Case::unknown;
    std::shared_ptr<const Payload> m_payload;
};

size_t qHash(const DocumentType& type, size_t seed = 0);

} // namespace vantrel

template<>
struct std::hash<vantrel::DocumentType> {
    size_t operator()(const vantrel::DocumentType& type) const noexcept { return qHash(type); }
};
