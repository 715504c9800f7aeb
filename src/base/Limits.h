#pragma once
// The limits on what the helper takes in from links, servers, packages, its
// package reader and child processes, and the image formats it accepts, in
// one table. Links, packages, the package reader and the engine run all read
// them from here.
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <chrono>

/// The largest skin image, downloaded or packaged, announced or received: 16 MiB.
inline constexpr qint64 kMaxImageBytes = 16 * 1024 * 1024;

/// The image formats a link's address may name, by its extension (lower case).
inline const QStringList kLinkImageExtensions{QStringLiteral("png"), QStringLiteral("jpg"),
                                              QStringLiteral("jpeg"), QStringLiteral("webp")};

/// The image formats a package's manifest may name, by its extension (lower case).
inline const QStringList kPackageImageExtensions{
    QStringLiteral("png"),  QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("webp"),
    QStringLiteral("heic"), QStringLiteral("tif"), QStringLiteral("tiff")};

/// Redirects followed before an image download is given up, as browsers allow.
inline constexpr int kMaxRedirects = 20;

/// An image transfer that receives nothing for this long fails; every byte
/// received counts, header bytes included.
inline constexpr std::chrono::milliseconds kDownloadStallTimeout = std::chrono::seconds(60);

/// The most response header bytes one image download takes in: every
/// response of it (each redirect hop and each informational response)
/// together.
inline constexpr qint64 kMaxResponseHeaderBytes = 256 * 1024;

/// The most body bytes one image download receives as sent. A body sent with
/// a Content-Encoding is held to kMaxImageBytes once decoded; this bounds it
/// on the wire too, with room for an image that does not compress, so that a
/// stream that decodes to nothing still ends.
inline constexpr qint64 kMaxImageWireBytes = 2 * kMaxImageBytes + 1024 * 1024;

/// The largest package file accepted, in bytes (55 MiB).
inline constexpr qint64 kMaxPackageBytes = 57'671'680;

/// The most entries a package may hold.
inline constexpr qint64 kMaxPackageEntries = 12;

/// The most bytes a package may expand to (60 MiB).
inline constexpr qint64 kMaxExpandedBytes = 62'914'560;

/// The most directories one package may create, in all.
inline constexpr int kMaxExtractedDirectories = 64;

/// The most components a package entry's path may have.
inline constexpr qsizetype kMaxEntryPathComponents = 16;

/// The longest package entry name, in bytes.
inline constexpr qsizetype kMaxEntryPathBytes = 1024;

/// The longest component of a package entry's path, in bytes.
inline constexpr qsizetype kMaxEntryComponentBytes = 255;

/// The largest manifest read, in bytes.
inline constexpr qint64 kMaxManifestBytes = 262'144;

/// The longest display name, in extended grapheme clusters.
inline constexpr int kMaxNameClusters = 80;

/// The most code points one cluster of a display name keeps: its base and 30
/// more (the stream-safe limit of Unicode normalization, UAX #15). A cluster
/// may otherwise carry any number of combining marks, so that one character
/// could be megabytes long.
inline constexpr int kMaxClusterCodePoints = 31;

/// The most output kept from one child process; more is read and dropped so
/// the child never blocks, and an alert never has to show megabytes.
inline constexpr qsizetype kMaxKeptProcessOutput = 1 << 20;

/// The most address space the confined package reader may map (1 GiB): far
/// more than reading a 55 MiB package or decoding a 16 MiB image takes, and a
/// hard stop for a decoder that believes a header announcing gigabytes.
inline constexpr qint64 kReaderAddressSpaceBytes = qint64(1) << 30;

/// The most CPU time the package reader may use, in seconds.
inline constexpr int kReaderCpuSeconds = 30;

/// The most files the package reader may hold open at once.
inline constexpr int kReaderOpenFiles = 64;

/// The largest file the package reader may write: an entry can be no larger
/// than the whole package may expand to.
inline constexpr qint64 kReaderFileBytes = kMaxExpandedBytes;

/// How long the package reader may take to inspect, extract and read a
/// package before it is stopped.
inline constexpr std::chrono::milliseconds kReaderAnswerTimeout = std::chrono::seconds(30);

/// How long after the question appears its thumbnail may still arrive; a
/// decode that takes longer is stopped and the question shows none.
inline constexpr std::chrono::milliseconds kThumbnailDeadline = std::chrono::seconds(2);

/// The most any decoding of a package's image for its thumbnail may allocate,
/// in MiB: a 4096 x 4096 picture with four bytes a pixel. A skin image is a
/// window background; a header that announces more is a decompression bomb,
/// not a skin.
inline constexpr int kDecodeLimitMiB = 64;

/// The largest answer frame the package reader may send (a tool's output in
/// a refusal is at most kMaxKeptProcessOutput, 1 MiB).
inline constexpr qsizetype kMaxAnswerBytes = 4 << 20;

/// The longer side of a skin's thumbnail, in logical pixels.
inline constexpr int kThumbnailSide = 160;

/// The most physical pixels per logical one a thumbnail is decoded for.
inline constexpr int kMaxThumbnailScale = 4;

/// The longest answer line the console reads at its question, line feed
/// not counted: no answer it knows is longer, so a longer line (or endless
/// input without one, such as /dev/zero) is taken as Cancel.
inline constexpr qsizetype kMaxConsoleAnswerBytes = 4096;
