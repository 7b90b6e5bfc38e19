#pragma once

#include <QSet>
#include <QString>

namespace vantrel {

// A file name made from a name a person gave: no slashes, no control characters, not "." or
// "..", not hidden, at most 200 bytes of UTF-8. Never empty.
QString safeFileName(const QString& name);

// An extension as a file name may carry it: the same characters are replaced as in
// safeFileName(), leading dots are dropped, at most 40 bytes of UTF-8. Empty when nothing is left.
QString safeExtension(const QString& extension);

// `base` + "." + `extension` (no dot when the extension is empty), or "base 2.ext", "base 3.ext"...
// when that name is taken in `folder` or in `taken` (compared without regard to case, so the
// result is also safe on file systems that ignore case). The chosen name joins `taken`. `base`
// and `extension` are made safe first, so the result is always one plain name, whatever they hold.
QString uniqueFileName(const QString& folder, const QString& base, const QString& extension,
                       QSet<QString>* taken = nullptr);

} // namespace vantrel
