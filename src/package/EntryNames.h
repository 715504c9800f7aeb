#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

/// The form in which two names count as the same name when the exact one is
/// not there: canonically decomposed and case-folded, so that "écran.png"
/// stored decomposed (as macOS writes it) and "Background.png" for
/// "background.png" (as a case-insensitive file system keeps it) match.
QString nameMatchKey(const QString& name);

/// The names of `candidates` that stand for `name`: `name` alone when it is
/// one of them, otherwise every candidate with the same nameMatchKey(), in
/// their order. One result is the entry meant; none or several name nothing.
QStringList matchingEntryNames(const QString& name, const QStringList& candidates);

/// `bytes` read as code page 437, the zip format's encoding for names
/// without the UTF-8 flag: ASCII as it is, every byte from 0x80 one
/// character.
QString decodeCp437(const QByteArray& bytes);

/// An entry name as the zip tool prints it when the archive says it was
/// made on MS-DOS, OS/2 or Windows: each byte from 0x80 is taken as the OEM
/// code page and written as its ISO 8859-1 counterpart (or an ASCII look-alike
/// for line-drawing characters) whatever the UTF-8 flag says, and the result
/// is read as UTF-8 with each invalid byte replaced, as the listing is read.
QString dosListedName(const QByteArray& bytes);
