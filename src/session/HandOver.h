#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

#include "flow/CommandLine.h"

/// What a later launch hands to the running instance: its open event and the
/// activation token its launcher gave it, so the running instance's next alert
/// may come to the front in its place.
struct HandOver {
  OpenEvent event;
  QString activationToken;  ///< XDG_ACTIVATION_TOKEN of the later launch, or empty
};

/// The largest hand-over payload accepted, in bytes.
inline constexpr qsizetype kMaxHandOverBytes = 1024 * 1024;

/// The byte the running instance answers with once it has taken a hand-over.
inline constexpr char kHandOverTaken = 'A';

/// The byte the running instance answers with while it is applying a skin:
/// it does not take the hand-over, and the later launch says so.
inline constexpr char kHandOverBusy = 'B';

/// One hand-over as sent over the socket: a 32-bit big-endian payload length,
/// then the payload.
QByteArray encodeHandOver(const HandOver& handOver);

/// Reads a payload (without its length prefix); nullopt for anything that is
/// not a well-formed hand-over of URLs or files.
std::optional<HandOver> decodeHandOver(const QByteArray& payload);

/// The payload length announced by the first four bytes of `frame`, or -1 when
/// fewer than four bytes have arrived.
qint64 announcedHandOverLength(const QByteArray& frame);
