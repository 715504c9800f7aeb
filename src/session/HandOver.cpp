#include "session/HandOver.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

namespace {

constexpr quint32 kMagic = 0x564c4d31;  // "VLM1"
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;

}  // namespace

QByteArray encodeHandOver(const HandOver& handOver) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out.setVersion(kStreamVersion);
  out << kMagic << static_cast<quint8>(handOver.event.kind) << handOver.event.items
      << handOver.activationToken;
  QByteArray frame(4, '\0');
  qToBigEndian(static_cast<quint32>(payload.size()), frame.data());
  return frame + payload;
}

std::optional<HandOver> decodeHandOver(const QByteArray& payload) {
  if (payload.size() > kMaxHandOverBytes) return std::nullopt;
  QDataStream in(payload);
  in.setVersion(kStreamVersion);
  quint32 magic = 0;
  quint8 kind = 0;
  HandOver handOver;
  in >> magic >> kind >> handOver.event.items >> handOver.activationToken;
  if (in.status() != QDataStream::Ok || !in.atEnd() || magic != kMagic) return std::nullopt;
  if (kind == static_cast<quint8>(OpenEvent::Kind::urls)) {
    handOver.event.kind = OpenEvent::Kind::urls;
  } else if (kind == static_cast<quint8>(OpenEvent::Kind::files)) {
    handOver.event.kind = OpenEvent::Kind::files;
  } else {
    return std::nullopt;
  }
  return handOver;
}

qint64 announcedHandOverLength(const QByteArray& frame) {
  if (frame.size() < 4) return -1;
  return qFromBigEndian<quint32>(frame.constData());
}
