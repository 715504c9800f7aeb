#include "link/ContentDecoding.h"

#include <zlib.h>

#include <array>
#include <utility>

namespace {

// zlib's window bits: 15 with 16 added reads gzip, negated reads raw deflate.
constexpr int kZlibWindow = 15;
constexpr int kGzipWindow = kZlibWindow + 16;
constexpr int kRawWindow = -kZlibWindow;

constexpr std::size_t kPiece = 64 * 1024;

}  // namespace

ContentCoding readContentCoding(const std::optional<QByteArray>& value) {
  if (!value) return ContentCoding::identity;
  const QByteArray coding = value->trimmed().toLower();
  if (coding.isEmpty() || coding == "identity") return ContentCoding::identity;
  if (coding == "gzip" || coding == "x-gzip") return ContentCoding::gzip;
  if (coding == "deflate") return ContentCoding::deflate;
  return ContentCoding::unsupported;
}

struct BodyDecoder::Stream {
  z_stream z{};
  bool open = false;
  bool ended = false;
  bool gzip = false;
  // A deflate body is zlib data or, as some servers send it, raw deflate
  // data: its first two bytes, held here until both are in, tell which.
  bool deciding = false;
  QByteArray head;

  bool start(int window) {
    if (open) inflateEnd(&z);
    z = z_stream{};
    open = inflateInit2(&z, window) == Z_OK;
    return open;
  }
};

BodyDecoder::BodyDecoder(ContentCoding coding) : stream_(std::make_unique<Stream>()) {
  stream_->gzip = coding == ContentCoding::gzip;
  stream_->deciding = coding == ContentCoding::deflate;
  if (!stream_->deciding) stream_->start(kGzipWindow);
}

BodyDecoder::~BodyDecoder() {
  if (stream_->open) inflateEnd(&stream_->z);
}

bool BodyDecoder::complete() const {
  return stream_->ended;
}

bool BodyDecoder::feed(QByteArrayView encoded, const std::function<void(QByteArrayView)>& decoded) {
  Stream& s = *stream_;
  if (s.deciding) {
    s.head.append(encoded);
    if (s.head.size() < 2) return true;
    const auto method = static_cast<uchar>(s.head.at(0));
    const auto flags = static_cast<uchar>(s.head.at(1));
    const bool zlibHeader = (method & 0x0F) == Z_DEFLATED && (method * 256 + flags) % 31 == 0;
    s.deciding = false;
    if (!s.start(zlibHeader ? kZlibWindow : kRawWindow)) return false;
    const QByteArray held = std::exchange(s.head, QByteArray());
    return feed(held, decoded);
  }
  if (!s.open) return false;
  std::array<char, kPiece> piece{};
  auto* next = reinterpret_cast<Bytef*>(const_cast<char*>(encoded.data()));
  auto left = static_cast<uInt>(encoded.size());
  // zlib may hold output back when a piece fills up, even with no input left.
  bool pieceFilled = false;
  while (left > 0 || pieceFilled) {
    if (s.ended) {
      if (left == 0) break;
      // Several gzip members in a row are one body; anything else after the
      // end is not.
      if (!s.gzip || !s.start(kGzipWindow)) return false;
      s.ended = false;
    }
    s.z.next_in = next;
    s.z.avail_in = left;
    s.z.next_out = reinterpret_cast<Bytef*>(piece.data());
    s.z.avail_out = static_cast<uInt>(piece.size());
    const int result = inflate(&s.z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
    const uInt consumed = left - s.z.avail_in;
    next += consumed;
    left -= consumed;
    const std::size_t produced = piece.size() - s.z.avail_out;
    if (produced > 0) decoded(QByteArrayView(piece.data(), static_cast<qsizetype>(produced)));
    s.ended = result == Z_STREAM_END;
    pieceFilled = s.z.avail_out == 0;
    if (result == Z_BUF_ERROR) break;  // nothing more until more input comes
  }
  return true;
}
