#pragma once
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

/// The most leading bytes of a file that imageSignatureFormat() looks at.
inline constexpr qsizetype kImageSignatureBytes = 12;

/// The image format whose signature `head` (a file's first bytes, at most
/// kImageSignatureBytes of them matter) starts with: "png", "jpeg", "webp",
/// "heif" (HEIC/HEIF brands heic, heix, hevc, mif1, msf1) or "tiff"; empty
/// when it is none of the formats the helper accepts.
QString imageSignatureFormat(QByteArrayView head);
