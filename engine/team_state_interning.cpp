// The one copy the model keeps of what recurs in records (names, authors, JSON values, document
// types): a team of 50,000 bundles repeats a few hundred of them.

#include "engine/team_state.h"

#include <algorithm>

namespace vantrel {

void TeamModel::intern(QString& text)
{
    if (text.isEmpty())
        return;
    // The changes of one record share their names: most are the ones interned just before.
    for (const auto& [seen, kept] : m_lastInterned) {
        if (text.isSharedWith(seen) && text.size() == seen.size()) {
            text = kept;
            return;
        }
    }
    const QString seen = text;
    const auto found = m_names.constFind(text);
    if (found != m_names.cend())
        text = *found;
    else
        m_names.insert(text);
    m_lastInterned[m_nextLast] = {seen, text};
    m_nextLast = (m_nextLast + 1) % m_lastInterned.size();
}

void TeamModel::intern(std::shared_ptr<const UserIdentity>& author)
{
    if (!author)
        return;
    // The changes of one record share their author: most are the one interned just before.
    if (author == m_lastAuthor.first) {
        author = m_lastAuthor.second;
        return;
    }
    const auto seen = author;
    auto& candidates = m_authors[author->userName];
    const auto same = std::find_if(candidates.cbegin(), candidates.cend(), [&](const auto& candidate) {
        return candidate->fullName == author->fullName && candidate->hostName == author->hostName;
    });
    if (same != candidates.cend()) {
        author = *same;
    } else {
        UserIdentity kept = *author;
        intern(kept.userName);
        intern(kept.fullName);
        intern(kept.hostName);
        author = std::make_shared<const UserIdentity>(std::move(kept));
        candidates.append(author);
    }
    m_lastAuthor = {seen, author};
}

QJsonValue TeamModel::sharedValue(QByteArrayView text)
{
    if (text.isEmpty())
        return QJsonValue(QJsonValue::Undefined);
    const auto found = m_values.constFind(QByteArray::fromRawData(text.data(), text.size()));
    if (found != m_values.cend())
        return *found;
    const QJsonValue value = json_scan::jsonValue(text);
    m_values.insert(text.toByteArray(), value);
    return value;
}

DocumentType TeamModel::sharedType(QByteArrayView text)
{
    const auto found = m_types.constFind(QByteArray::fromRawData(text.data(), text.size()));
    if (found != m_types.cend())
        return *found;
    DocumentType type = DocumentType::unknown(QString());
    try {
        type = DocumentType::fromJson(text.isEmpty() ? QJsonValue(QJsonValue::Undefined) : json_scan::jsonValue(text));
    } catch (const Error&) {
    }
    m_types.insert(text.toByteArray(), type);
    return type;
}

} // namespace vantrel
