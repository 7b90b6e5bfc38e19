#pragma once

#include "engine/document_type.h"

#include <QString>

#include <compare>

namespace vantrel {

// The group under which lists show an item: the nested items of a container and the search hits
// of the add-existing picker are listed under these headings, in this order.
class DocumentTypeCategory {
public:
    enum class Case { custom, collections, libraries, events, projects, documents, other };

    static DocumentTypeCategory custom(QString name) { return DocumentTypeCategory(Case::custom, std::move(name)); }
    static DocumentTypeCategory collections() { return DocumentTypeCategory(Case::collections); }
    static DocumentTypeCategory libraries() { return DocumentTypeCategory(Case::libraries); }
    static DocumentTypeCategory events() { return DocumentTypeCategory(Case::events); }
    static DocumentTypeCategory projects() { return DocumentTypeCategory(Case::projects); }
    static DocumentTypeCategory documents() { return DocumentTypeCategory(Case::documents); }
    static DocumentTypeCategory other() { return DocumentTypeCategory(Case::other); }

    // The fixed group whose heading, in the running language, is `name`; a custom group otherwise.
    static DocumentTypeCategory fromName(const QString& name);

    Case kind() const { return m_case; }
    // The heading: the localized title of a fixed group, the name of a custom one.
    QString title() const;
    QString id() const { return title(); }

    friend bool operator==(const DocumentTypeCategory& a, const DocumentTypeCategory& b)
    {
        return a.m_case == b.m_case && (a.m_case != Case::custom || a.m_name == b.m_name);
    }
    // Custom groups first, by name; then the fixed groups in the order of Case.
    friend bool operator<(const DocumentTypeCategory& a, const DocumentTypeCategory& b);
    friend bool operator>(const DocumentTypeCategory& a, const DocumentTypeCategory& b) { return b < a; }
    friend bool operator<=(const DocumentTypeCategory& a, const DocumentTypeCategory& b) { return !(b < a); }
    friend bool operator>=(const DocumentTypeCategory& a, const DocumentTypeCategory& b) { return !(a < b); }

private:
    explicit DocumentTypeCategory(Case which, QString name = {}) : m_case(which), m_name(std::move(name)) {}

    Case m_case;
    QString m_name;
};

// Hashes like the title.
size_t qHash(const DocumentTypeCategory& category, size_t seed = 0);

// The group of a document type.
DocumentTypeCategory category(const DocumentType& type);

} // namespace vantrel
