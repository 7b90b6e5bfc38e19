#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vantrel {

// The characters of an RTF document without any of its formatting: paragraph and line breaks
// become "\n", tabs "\t"; font, colour and style tables, document information, pictures, headers,
// footers and every ignorable destination ({\*\...}) are left out. Bytes written as \'hh or as
// raw 8-bit characters are decoded with the code page of the current font's \fcharset, else the
// document's (\ansicpg, else its character set: \ansi is Windows-1252, \mac Mac Roman, \pc and
// \pca the DOS code pages); \uN characters replace the \ucN fallback characters that follow them.
//
// Nothing when `document` is not RTF (it must begin with "{\rtf"). A document cut short gives
// the text read up to its end.
std::optional<QString> rtfPlainText(const QByteArray& document);

} // namespace vantrel
