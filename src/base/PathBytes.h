#pragma once
#include <QByteArray>
#include <QString>

// A file name is bytes; it need not be UTF-8 (a name made on another system,
// or in a Latin-1 locale). These carry such a name through QString without
// loss: each byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80 + (byte - 0x80), and back. Valid UTF-8 reads as usual.

/// The text of the file name `bytes`, every byte kept.
QString pathFromBytes(const QByteArray& bytes);

/// The bytes of a file name that pathFromBytes() made (or any text), exactly
/// as they were.
QByteArray pathBytes(const QString& path);

/// The local path a file URL names, its escapes read as bytes (so
/// "file:///tmp/caf%E9.velmora" keeps its byte 0xE9); empty when `url` is not
/// a local file URL.
QString pathOfFileUrl(const QString& url);

/// The file URL of the local path `path`, every byte of it kept.
QString fileUrlOfPath(const QString& path);
