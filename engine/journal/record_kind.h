#pragma once

#include <QString>

namespace vantrel {

// The kind of one change in the journal, stored as the text of its "kind" member.
enum class RecordKind {
    unknown, // a text this version does not write: a newer client's kind, or damage
    create,  // a new bundle: its type, name and extension
    version, // a new current version
    revert,  // an earlier version made current again
    rename,
    nest,   // a bundle added to a container
    unnest, // a bundle taken out of a container
    trash,
    restore,           // out of the trash
    deletePermanently, // stored as "delete"
    lock,              // a check-out took the lock
    editing,           // an auto-save of a working copy
    discard,           // a check-out given up
};

// The text a record stores for `kind`; empty for unknown, which is never written.
QString toText(RecordKind kind);
// The kind `text` names; unknown for any other text (the share is not trusted, and a newer
// client may write kinds this version does not know).
RecordKind recordKindFromText(const QString& text);

} // namespace vantrel
