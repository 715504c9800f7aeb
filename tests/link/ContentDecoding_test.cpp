// Reading a response's content coding, decoding its body, and the words for
// a failed transfer: the pieces that judge a response, without a server.
#include "link/ContentDecoding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "link/ImageResponse.h"

namespace {

QByteArray compressed(const QByteArray& body, int window) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, window, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(body.size()))) + 32,
                 Qt::Uninitialized);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  z.avail_in = static_cast<uInt>(body.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.truncate(static_cast<qsizetype>(z.total_out));
  deflateEnd(&z);
  return out;
}

QByteArray gzipped(const QByteArray& body) {
  return compressed(body, 15 + 16);
}

struct Decoded {
  bool valid = false;
  bool complete = false;
  QByteArray body;
};

// Feeds `encoded` in pieces of `step` bytes.
Decoded decode(ContentCoding coding, const QByteArray& encoded, qsizetype step) {
  BodyDecoder decoder(coding);
  Decoded result{true, false, {}};
  for (qsizetype at = 0; at < encoded.size() && result.valid; at += step) {
    result.valid =
        decoder.feed(QByteArrayView(encoded).sliced(at, std::min(step, encoded.size() - at)),
                     [&](QByteArrayView piece) { result.body.append(piece); });
  }
  result.complete = decoder.complete();
  return result;
}

TEST(ContentCoding, ReadsTheCodingsTheHelperDecodes) {
  const struct {
    std::optional<QByteArray> value;
    ContentCoding coding;
  } cases[] = {
      {std::nullopt, ContentCoding::identity},  {QByteArray(""), ContentCoding::identity},
      {"Identity", ContentCoding::identity},    {" gzip ", ContentCoding::gzip},
      {"X-GZIP", ContentCoding::gzip},          {"deflate", ContentCoding::deflate},
      {"br", ContentCoding::unsupported},       {"gzip, gzip", ContentCoding::unsupported},
      {"compress", ContentCoding::unsupported},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readContentCoding(c.value), c.coding) << c.value.value_or("(absent)").constData();
  }
}

TEST(BodyDecoder, DecodesWholeBodiesHoweverTheyArriveAndRefusesBrokenOnes) {
  QByteArray body;
  for (int i = 0; i < 300000; ++i) body.append(static_cast<char>((i * 7 + 3) % 256));
  const QByteArray gzip = gzipped(body);
  const struct {
    const char* what;
    ContentCoding coding;
    QByteArray encoded;
    bool valid;
    bool complete;
  } cases[] = {
      {"gzip", ContentCoding::gzip, gzip, true, true},
      {"two gzip members", ContentCoding::gzip, gzipped(body.left(1000)) + gzipped(body.mid(1000)),
       true, true},
      {"zlib data", ContentCoding::deflate, compressed(body, 15), true, true},
      {"raw deflate data", ContentCoding::deflate, compressed(body, -15), true, true},
      {"cut short", ContentCoding::gzip, gzip.left(gzip.size() - 100), true, false},
      {"not compressed", ContentCoding::gzip, body, false, false},
      {"more after the end", ContentCoding::deflate, compressed(body, 15) + "x", false, true},
  };
  for (const auto& c : cases) {
    for (qsizetype step : {qsizetype{1}, qsizetype{4096}, c.encoded.size()}) {
      SCOPED_TRACE(testing::Message() << c.what << ", fed " << step << " bytes at a time");
      if (step == 1 && c.encoded.size() > 20000) continue;
      const Decoded decoded = decode(c.coding, c.encoded, step);
      EXPECT_EQ(decoded.valid, c.valid);
      EXPECT_EQ(decoded.complete, c.complete);
      if (c.valid && c.complete) {
        EXPECT_TRUE(decoded.body == body);
      }
    }
  }
}

TEST(BodyDecoder, AReceiverCanStopABombBeforeItIsDecoded) {
  const QByteArray bomb = gzipped(QByteArray(64 * 1024 * 1024, '\0'));
  ASSERT_LT(bomb.size(), 100 * 1024);
  BodyDecoder decoder(ContentCoding::gzip);
  qsizetype decoded = 0;
  qsizetype largestPiece = 0;
  try {
    decoder.feed(bomb, [&](QByteArrayView piece) {
      decoded += piece.size();
      largestPiece = std::max(largestPiece, piece.size());
      if (decoded > 1024 * 1024) throw std::length_error("too large");
    });
    FAIL() << "the receiver was never asked to stop";
  } catch (const std::length_error&) {
  }
  EXPECT_LE(largestPiece, 64 * 1024);
  EXPECT_LE(decoded, 1024 * 1024 + 64 * 1024);
}

TEST(TransferFailureText, NeverLeavesAColonWithNothingAfterIt) {
  const struct {
    QString given;
    QString shown;
  } cases[] = {
      {"Connection closed", "Connection closed"},
      {"Decompression failed: ", "Decompression failed"},
      {" Error: : ", "Error"},
      {"", "The skin image could not be downloaded."},
      {":", "The skin image could not be downloaded."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(transferFailureText(c.given), c.shown) << c.given.toStdString();
}

}  // namespace
