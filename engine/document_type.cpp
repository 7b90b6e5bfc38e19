#include "engine/document_type.h"

#include "desktop/desktop_launch.h"
#include "foundation/json_coding.h"

#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <limits>

namespace vantrel {

namespace {

const QString directoryMimeType = QStringLiteral("inode/directory");

// The fixed facts of one case without a payload.
struct TypeInfo {
    const char* identifier;
    const char* extensions; // separated by spaces
    const char* mimeTypes;  // separated by spaces
    bool isPackage;
    const char* iconName;
    const char* description;
    const char* shortDescription;
    const char* multipliedShortDescription;
    const char* appName;
};

// Indexed by the case; the first two entries stand for the payload cases' fallbacks.
const std::array<TypeInfo, 14> typeInfos{{
    {"unknown", "", "", false, "application-x-generic", "Document", "Document", "Documents", ""},
    {"custom", "", "", false, "application-x-generic", "", "", "", ""},
    {"collection", "", "", false, "folder", "Collection", "Collection", "Collections", "Vantrel"},
    {"library", "videolibrary", "inode/directory", true, "folder-videos", "Video Library", "Library", "Libraries",
     "Video Editor"},
    {"event", "videoevent", "inode/directory", true, "video-x-generic", "Video Event", "Event", "Events",
     "Video Editor"},
    {"kdenliveProject", "kdenlive", "application/x-kdenlive", false, "video-x-generic", "Kdenlive Project", "Project",
     "Projects", "Kdenlive"},
    {"subtitles", "srt ass ssa vtt", "application/x-subrip text/x-ssa text/vtt", false, "text-x-generic",
     "Subtitle File", "Subtitles", "Subtitles", "Subtitle Composer"},
    {"textDocument", "odt", "application/vnd.oasis.opendocument.text", false, "x-office-document", "Text Document",
     "Document", "Documents", "LibreOffice Writer"},
    {"pdfDocument", "pdf", "application/pdf", false, "application-pdf", "PDF Document", "PDF", "PDFs", "Okular"},
    {"blenderProject", "blend", "application/x-blender", false, "application-x-blender", "Blender Project", "Project",
     "Projects", "Blender"},
    {"ardourSession", "ardour", "application/x-ardour", false, "audio-x-generic", "Ardour Session", "Session",
     "Sessions", "Ardour"},
    {"resolveArchive", "dra", "inode/directory", true, "package-x-generic", "DaVinci Resolve Project Archive",
     "Project Archive", "Project Archives", "DaVinci Resolve"},
    {"kritaBundle", "bundle", "application/x-krita-resourcebundle", false, "package-x-generic", "Krita Resource Bundle",
     "Bundle", "Bundles", "Krita"},
    {"kdenliveTitle", "kdenlivetitle", "application/x-kdenlivetitle", false, "image-x-generic", "Kdenlive Title",
     "Title", "Titles", "Kdenlive"},
}};

const TypeInfo& infoOf(DocumentType::Case kind)
{
    return typeInfos[static_cast<size_t>(kind)];
}

QStringList toStringList(const char* spaceSeparated)
{
    return QString::fromLatin1(spaceSeparated).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The cases a collection holds, in their order; custom types and unknown files come on top.
const std::array collectionContents{
    DocumentType::Case::library,       DocumentType::Case::kdenliveProject, DocumentType::Case::subtitles,
    DocumentType::Case::textDocument,  DocumentType::Case::pdfDocument,     DocumentType::Case::blenderProject,
    DocumentType::Case::ardourSession, DocumentType::Case::resolveArchive,  DocumentType::Case::kritaBundle,
    DocumentType::Case::kdenliveTitle,
};

DocumentType typeOfCase(DocumentType::Case kind)
{
    using C = DocumentType::Case;
    switch (kind) {
    case C::unknown:
    case C::custom:
        break; // carry a payload; never asked for
    case C::collection:
        return DocumentType::collection();
    case C::library:
        return DocumentType::library();
    case C::event:
        return DocumentType::event();
    case C::kdenliveProject:
        return DocumentType::kdenliveProject();
    case C::subtitles:
        return DocumentType::subtitles();
    case C::textDocument:
        return DocumentType::textDocument();
    case C::pdfDocument:
        return DocumentType::pdfDocument();
    case C::blenderProject:
        return DocumentType::blenderProject();
    case C::ardourSession:
        return DocumentType::ardourSession();
    case C::resolveArchive:
        return DocumentType::resolveArchive();
    case C::kritaBundle:
        return DocumentType::kritaBundle();
    case C::kdenliveTitle:
        return DocumentType::kdenliveTitle();
    }
    return DocumentType::unknown(QString());
}

QJsonObject requireObject(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("Expected a document type object."));
    return json.toObject();
}

QStringList decodeStringList(const QJsonValue& json)
{
    if (!json.isArray())
        throw DecodingError(QStringLiteral("Expected a list of strings."));
    QStringList list;
    for (const QJsonValue& element : json.toArray())
        list.append(JsonCoding<QString>::decode(element));
    return list;
}

} // namespace

const QString& DocumentType::extension() const
{
    static const QString none;
    return m_payload ? m_payload->extension : none;
}

DocumentType DocumentType::unknown(const QString& extension)
{
    DocumentType type(Case::unknown);
    if (!extension.isEmpty())
        type.m_payload = std::make_shared<const Payload>(Payload{extension.toLower(), std::nullopt});
    return type;
}

DocumentType DocumentType::custom(const Custom& custom)
{
    DocumentType type(Case::custom);
    type.m_payload = std::make_shared<const Payload>(Payload{QString(), custom});
    return type;
}

DocumentType DocumentType::collection()
{
    return DocumentType(Case::collection);
}
DocumentType DocumentType::library()
{
    return DocumentType(Case::library);
}
DocumentType DocumentType::event()
{
    return DocumentType(Case::event);
}
DocumentType DocumentType::kdenliveProject()
{
    return DocumentType(Case::kdenliveProject);
}
DocumentType DocumentType::subtitles()
{
    return DocumentType(Case::subtitles);
}
DocumentType DocumentType::textDocument()
{
    return DocumentType(Case::textDocument);
}
DocumentType DocumentType::pdfDocument()
{
    return DocumentType(Case::pdfDocument);
}
DocumentType DocumentType::blenderProject()
{
    return DocumentType(Case::blenderProject);
}
DocumentType DocumentType::ardourSession()
{
    return DocumentType(Case::ardourSession);
}
DocumentType DocumentType::resolveArchive()
{
    return DocumentType(Case::resolveArchive);
}
DocumentType DocumentType::kritaBundle()
{
    return DocumentType(Case::kritaBundle);
}
DocumentType DocumentType::kdenliveTitle()
{
    return DocumentType(Case::kdenliveTitle);
}

DocumentType DocumentType::fromFileExtension(const QString& extension)
{
    const QString lowered = extension.toLower();
    if (!lowered.isEmpty()) {
        for (size_t index = size_t(Case::library); index < typeInfos.size(); ++index) {
            if (toStringList(typeInfos[index].extensions).contains(lowered))
                return typeOfCase(static_cast<Case>(index));
        }
    }
    return unknown(lowered);
}

DocumentType DocumentType::forPath(const QString& path)
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return fromFileExtension(dot < 0 ? QString() : name.mid(dot + 1));
}

QString DocumentType::unknownExtension() const
{
    return m_kind == Case::unknown ? extension() : QString();
}

QString DocumentType::identifier() const
{
    if (m_kind == Case::custom)
        return customDefinition()->identifier;
    return QString::fromLatin1(infoOf(m_kind).identifier);
}

QStringList DocumentType::fileExtensions() const
{
    if (m_kind == Case::unknown)
        return extension().isEmpty() ? QStringList() : QStringList{extension()};
    if (m_kind == Case::custom)
        return customDefinition()->fileExtensions;
    return toStringList(infoOf(m_kind).extensions);
}

QString DocumentType::preferredExtension() const
{
    const QStringList extensions = fileExtensions();
    return extensions.isEmpty() ? QString() : extensions.first();
}

QStringList DocumentType::mimeTypes() const
{
    if (m_kind == Case::custom && customDefinition()->isPackage)
        return {directoryMimeType};
    // Files of kinds the table does not know open as the desktop's MIME database knows them.
    if (m_kind == Case::custom || m_kind == Case::unknown) {
        QStringList names;
        for (const QString& extension : fileExtensions()) {
            for (const QString& name : desktop::mimeTypesForExtension(extension)) {
                if (!names.contains(name))
                    names.append(name);
            }
        }
        return names;
    }
    return toStringList(infoOf(m_kind).mimeTypes);
}

bool DocumentType::isPackage() const
{
    if (m_kind == Case::custom)
        return customDefinition()->isPackage;
    return infoOf(m_kind).isPackage;
}

QString DocumentType::iconName() const
{
    if (m_kind == Case::custom && customDefinition()->isPackage)
        return QStringLiteral("package-x-generic");
    return QString::fromLatin1(infoOf(m_kind).iconName);
}

QString DocumentType::icon(const QString& versionBundlePath) const
{
    Q_UNUSED(versionBundlePath)
    return iconName();
}

QString DocumentType::description() const
{
    if (m_kind == Case::custom)
        return customDefinition()->name;
    return QString::fromLatin1(infoOf(m_kind).description);
}

QString DocumentType::shortDescription() const
{
    if (m_kind == Case::custom)
        return customDefinition()->name;
    return QString::fromLatin1(infoOf(m_kind).shortDescription);
}

QString DocumentType::multipliedShortDescription() const
{
    if (m_kind == Case::custom)
        return customDefinition()->name;
    return QString::fromLatin1(infoOf(m_kind).multipliedShortDescription);
}

QString DocumentType::appName() const
{
    if (m_kind == Case::custom)
        return customDefinition()->name;
    return QString::fromLatin1(infoOf(m_kind).appName);
}

bool DocumentType::allowsNesting() const
{
    return m_kind == Case::collection || m_kind == Case::library;
}

QList<DocumentType> DocumentType::nestableDocumentTypes() const
{
    QList<DocumentType> types;
    if (m_kind == Case::collection) {
        for (Case kind : collectionContents)
            types.append(typeOfCase(kind));
    } else if (m_kind == Case::library) {
        types.append(event());
    }
    return types;
}

bool DocumentType::canNest(const DocumentType& child) const
{
    switch (m_kind) {
    case Case::collection:
        return child.m_kind != Case::collection && child.m_kind != Case::event;
    case Case::library:
        return child.m_kind == Case::event;
    default:
        return false;
    }
}

QList<DocumentType::ContentType> DocumentType::allowedContentTypes() const
{
    QList<ContentType> contentTypes;
    for (const DocumentType& type : nestableDocumentTypes())
        contentTypes.append({type.identifier(), type.mimeTypes(), type.fileExtensions(), type.isPackage()});
    return contentTypes;
}

int DocumentType::nestedItemsLimit(const DocumentType& ofType) const
{
    return canNest(ofType) ? std::numeric_limits<int>::max() : 0;
}

QJsonValue DocumentType::toJson() const
{
    QJsonObject object{{QStringLiteral("type"), QString::fromLatin1(infoOf(m_kind).identifier)}};
    if (m_kind == Case::unknown) {
        object.insert(QStringLiteral("extension"), extension());
    } else if (m_kind == Case::custom) {
        object.insert(QStringLiteral("identifier"), customDefinition()->identifier);
        object.insert(QStringLiteral("name"), customDefinition()->name);
        object.insert(QStringLiteral("fileExtensions"), QJsonArray::fromStringList(customDefinition()->fileExtensions));
        object.insert(QStringLiteral("isPackage"), customDefinition()->isPackage);
        object.insert(QStringLiteral("groupName"),
                      JsonCoding<std::optional<QString>>::encode(customDefinition()->groupName));
    }
    return object;
}

DocumentType DocumentType::fromJson(const QJsonValue& json)
{
    const QJsonObject object = requireObject(json);
    const QString identifier = JsonCoding<QString>::decode(object.value(QStringLiteral("type")));
    if (identifier == QLatin1String(infoOf(Case::unknown).identifier))
        return unknown(JsonCoding<QString>::decode(object.value(QStringLiteral("extension"))));
    if (identifier == QLatin1String(infoOf(Case::custom).identifier)) {
        Custom custom;
        custom.identifier = JsonCoding<QString>::decode(object.value(QStringLiteral("identifier")));
        custom.name = JsonCoding<QString>::decode(object.value(QStringLiteral("name")));
        custom.fileExtensions = decodeStringList(object.value(QStringLiteral("fileExtensions")));
        custom.isPackage = JsonCoding<bool>::decode(object.value(QStringLiteral("isPackage")));
        custom.groupName = JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("groupName")));
        return DocumentType::custom(custom);
    }
    for (size_t index = size_t(Case::collection); index < typeInfos.size(); ++index) {
        if (identifier == QLatin1String(typeInfos[index].identifier))
            return typeOfCase(static_cast<Case>(index));
    }
    return unknown(QString());
}

size_t qHash(const DocumentType& type, size_t seed)
{
    if (type.kind() == DocumentType::Case::custom)
        return qHashMulti(seed, int(type.kind()), type.customDefinition()->identifier, type.customDefinition()->name);
    return qHashMulti(seed, int(type.kind()), type.unknownExtension());
}

} // namespace vantrel
