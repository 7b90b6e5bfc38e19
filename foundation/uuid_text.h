// UUIDs as text: the hyphenated form in which ids are written in links and stored files.

#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

namespace vantrel {

// Parses the 8-4-4-4-12 hexadecimal form of a UUID, in either case, without braces.
std::optional<QUuid> parseUuidString(QStringView text);
// The upper-case 8-4-4-4-12 form, as ids are written in links and stored files.
QString uuidString(const QUuid& uuid);

} // namespace vantrel
