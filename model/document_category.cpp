#include "model/document_category.h"

#include "model/name_order.h"
#include "model/strings.h"

#include <QHash>

namespace vantrel {

DocumentTypeCategory DocumentTypeCategory::fromName(const QString& name)
{
    for (const auto& fixed : {collections(), libraries(), events(), projects(), documents(), other()}) {
        if (name == fixed.title())
            return fixed;
    }
    return custom(name);
}

QString DocumentTypeCategory::title() const
{
    switch (m_case) {
    case Case::custom:
        return m_name;
    case Case::collections:
        return Strings::collectionsTitle();
    case Case::libraries:
        return Strings::librariesTitle();
    case Case::events:
        return Strings::eventsTitle();
    case Case::projects:
        return Strings::projectsTitle();
    case Case::documents:
        return Strings::documentsTitle();
    case Case::other:
        return Strings::otherTitle();
    }
    return {};
}

bool operator<(const DocumentTypeCategory& a, const DocumentTypeCategory& b)
{
    using Case = DocumentTypeCategory::Case;
    if (a.m_case == Case::custom && b.m_case == Case::custom)
        return precedesByName(a.m_name, b.m_name);
    return a.m_case < b.m_case;
}

size_t qHash(const DocumentTypeCategory& category, size_t seed)
{
    return qHash(category.title(), seed);
}

DocumentTypeCategory category(const DocumentType& type)
{
    using Kind = DocumentType::Case;
    switch (type.kind()) {
    case Kind::unknown:
        return DocumentTypeCategory::other();
    case Kind::custom: {
        const auto& definition = type.customDefinition();
        if (!definition || !definition->groupName)
            return DocumentTypeCategory::other();
        return DocumentTypeCategory::fromName(*definition->groupName);
    }
    case Kind::collection:
        return DocumentTypeCategory::collections();
    case Kind::library:
    case Kind::kritaBundle:
        return DocumentTypeCategory::libraries();
    case Kind::event:
        return DocumentTypeCategory::events();
    case Kind::kdenliveProject:
    case Kind::blenderProject:
    case Kind::ardourSession:
    case Kind::resolveArchive:
        return DocumentTypeCategory::projects();
    case Kind::textDocument:
    case Kind::pdfDocument:
        return DocumentTypeCategory::documents();
    case Kind::subtitles:
    case Kind::kdenliveTitle:
        return DocumentTypeCategory::other();
    }
    return DocumentTypeCategory::other();
}

} // namespace vantrel
