#pragma once
#include <QHash>
#include <QString>

/// Reads a link's query (the text between "?" and "#", without them) into a
/// map of the items that carry a value. Items split at "&", each at its first
/// "="; names and values are percent-decoded once and "+" stays "+". Throws
/// HelperError invalidRequest ("The skin link is invalid.") when a name repeats
/// among those items or a name or value does not decode to valid UTF-8.
QHash<QString, QString> readLinkQuery(const QString& query);

/// Decodes %XX escapes once and the bytes as UTF-8; sets *ok to false on a
/// malformed escape or bytes that are not valid UTF-8.
QString percentDecodedUtf8(const QString& text, bool* ok);
