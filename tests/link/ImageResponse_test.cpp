// Judging the final response from its headers, without any server: the
// download calls judgeImageResponse once per transfer (ImageDownload_test
// checks that it does, and that a refused response stores nothing).
#include "link/ImageResponse.h"

#include <gtest/gtest.h>

#include <limits>

#include "link/ContentLength.h"
#include "link/HostPolicy.h"
#include "support/Expect.h"

namespace {

const QString kNotDownloaded = QStringLiteral("The skin image could not be downloaded.");
const QString kNotImage = QStringLiteral("The downloaded skin asset is not an image.");
const QString kTooLarge = QStringLiteral("The skin image is larger than 16 MiB.");
const QString kUnsupported = QStringLiteral("The skin image format is unsupported.");
const QString kOffSite =
    QStringLiteral("Velmora Helper only downloads HTTPS images from velmora.app.");

struct Judged {
  const char* what;
  int status;
  std::optional<QByteArray> contentType;
  std::optional<QByteArray> contentLength;
  const char* requested = "https://velmora.app/skins/x.png";
  const char* finalAddress = "";
  QString expected;  // the extension taken, or the refusal
  bool refused = false;
};

Judged taken(const char* what, int status, std::optional<QByteArray> type,
             std::optional<QByteArray> length, const char* requested, const char* extension) {
  return {what, status, type, length, requested, "", QString::fromUtf8(extension), false};
}

Judged refused(const char* what, int status, std::optional<QByteArray> type,
               std::optional<QByteArray> length, const char* requested, const QString& message,
               const char* finalAddress = "") {
  return {what, status, type, length, requested, finalAddress, message, true};
}

TEST(ImageResponse, JudgesStatusAddressTypeSizeAndExtensionInThatOrder) {
  const char* png = "https://velmora.app/skins/x.png";
  const std::nullopt_t none = std::nullopt;
  const Judged cases[] = {
      // Status: only 2xx is taken.
      refused("no status", 0, none, none, png, kNotDownloaded),
      refused("199", 199, none, none, png, kNotDownloaded),
      taken("200", 200, none, none, png, "png"),
      taken("299", 299, none, none, png, "png"),
      refused("300", 300, none, none, png, kNotDownloaded),
      refused("304", 304, none, none, png, kNotDownloaded),
      refused("404", 404, none, none, png, kNotDownloaded),
      refused("500", 500, none, none, png, kNotDownloaded),
      // The address that finally answered goes through the host policy.
      taken("final address on the site", 200, none, none, png, "png"),
      refused("final address off the site", 200, none, none, png, kOffSite,
              "https://evil.test/x.png"),
      refused("final address over http", 200, none, none, png, kOffSite,
              "http://velmora.app/x.png"),
      // Content-Type: any image/ type in any case, or none at all.
      taken("IMAGE/PNG", 200, "IMAGE/PNG", none, png, "png"),
      taken("image/svg+xml", 200, "image/svg+xml", none, png, "png"),
      refused("text/html", 200, "text/html", none, png, kNotImage),
      refused("empty type", 200, "", none, png, kNotImage),
      refused("image/ only later", 200, "text/image/png", none, png, kNotImage),
      // Content-Length: only a readable announcement past 16 MiB refuses.
      taken("exactly 16 MiB", 200, none, "16777216", png, "png"),
      refused("one byte more", 200, none, "16777217", png, kTooLarge),
      refused("with a plus sign", 200, none, "+16777217", png, kTooLarge),
      taken("negative", 200, none, "-5", png, "png"),
      taken("not a number", 200, none, "abc", png, "png"),
      taken("empty", 200, none, "", png, "png"),
      taken("past 64 bits", 200, none, "99999999999999999999", png, "png"),
      // The requested address's extension, lower-cased; query and fragment take no part.
      taken("upper case", 200, none, none, "https://velmora.app/Skin.PNG", "png"),
      taken("with a query", 200, none, none, "https://velmora.app/skin.png?v=2", "png"),
      taken("JPG", 200, none, none, "https://velmora.app/photo.JPG", "jpg"),
      taken("jpeg", 200, none, none, "https://velmora.app/photo.jpeg", "jpeg"),
      taken("last extension counts", 200, none, none, "https://velmora.app/skin.gif.webp", "webp"),
      refused("gif", 200, none, none, "https://velmora.app/skin.gif", kUnsupported),
      refused("heic, a package format only", 200, none, none, "https://velmora.app/skin.heic",
              kUnsupported),
      refused("no extension", 200, none, none, "https://velmora.app/skin", kUnsupported),
      refused("png then gif", 200, none, none, "https://velmora.app/skin.png.gif", kUnsupported),
      refused("png in the query", 200, none, none, "https://velmora.app/skin.gif?as=x.png",
              kUnsupported),
      refused("png in a directory name", 200, none, none, "https://velmora.app/x.png/skin",
              kUnsupported),
      taken("a trailing slash", 200, none, none, "https://velmora.app/skin.png/", "png"),
      // Several faults at once: the first check in order decides.
      refused("status before type", 500, "text/html", "16777217", "https://velmora.app/x.gif",
              kNotDownloaded),
      refused("address before type", 200, "text/html", none, png, kOffSite,
              "https://evil.test/x.png"),
      refused("type before size", 200, "text/html", "16777217", "https://velmora.app/x.gif",
              kNotImage),
      refused("size before extension", 200, none, "16777217", "https://velmora.app/x.gif",
              kTooLarge),
  };
  for (const Judged& c : cases) {
    SCOPED_TRACE(c.what);
    ImageResponseHead head;
    head.status = c.status;
    head.finalAddress = QUrl(QString::fromUtf8(c.finalAddress));
    head.contentType = c.contentType;
    head.contentLength = c.contentLength;
    const QUrl requested(QString::fromUtf8(c.requested));
    if (c.refused) {
      EXPECT_FAILURE_TEXT(judgeImageResponse(head, requested, validateRemoteImageURL), c.expected);
    } else {
      EXPECT_EQ(judgeImageResponse(head, requested, validateRemoteImageURL).extension, c.expected);
    }
  }
}

TEST(ImageResponse, SniffsGenericBinaryTypesAndSizesOnlyUnencodedBodies) {
  const std::nullopt_t none = std::nullopt;
  const struct {
    const char* what;
    std::optional<QByteArray> contentType;
    std::optional<QByteArray> contentLength;
    std::optional<QByteArray> contentEncoding;
    QString refusal;  // empty: taken
    bool needsSignature = false;
    qint64 announced = -1;  // the size kept for the progress
  } cases[] = {
      {"image type", "image/png", none, none, {}, false},
      {"no type", none, none, none, {}, false},
      {"application/octet-stream", "application/octet-stream", none, none, {}, true},
      {"binary/octet-stream with a parameter, any case",
       " Binary/Octet-Stream ; x=1",
       none,
       none,
       {},
       true},
      {"other application type", "application/json", none, none, kNotImage},
      {"octet-stream as a prefix only", "application/octet-streamx", none, none, kNotImage},
      // An encoded body announces its size as sent: the image's own limit is
      // counted on the decoded bytes instead.
      {"gzip'd past 16 MiB", "image/png", "16777300", "gzip", {}, false, -1},
      {"a size", "image/png", "1234", none, {}, false, 1234},
      {"a size with no coding named", "image/png", "1234", "identity", {}, false, 1234},
      {"a negative size", "image/png", "-5", none, {}, false, -1},
      {"a size that is no number", "image/png", "12a", none, {}, false, -1},
      {"identity past 16 MiB", "image/png", "16777300", "identity", kTooLarge},
      {"empty coding past 16 MiB", "image/png", "16777300", "", kTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ImageResponseHead head;
    head.status = 200;
    head.contentType = c.contentType;
    head.contentLength = c.contentLength;
    head.contentEncoding = c.contentEncoding;
    const QUrl requested(QStringLiteral("https://velmora.app/x.png"));
    if (!c.refusal.isEmpty()) {
      EXPECT_FAILURE_TEXT(judgeImageResponse(head, requested, validateRemoteImageURL), c.refusal);
      continue;
    }
    const AcceptedImage accepted = judgeImageResponse(head, requested, validateRemoteImageURL);
    EXPECT_EQ(accepted.extension, QStringLiteral("png"));
    EXPECT_EQ(accepted.needsSignature, c.needsSignature);
    EXPECT_EQ(accepted.announcedBytes, c.announced);
  }
}

TEST(ContentLength, ReadsASignAndDigitsThatFitSixtyFourBits) {
  constexpr qint64 kMax = std::numeric_limits<qint64>::max();
  constexpr qint64 kMin = std::numeric_limits<qint64>::min();
  const struct {
    QByteArray value;
    std::optional<qint64> read;
  } cases[] = {
      {"0", 0},
      {"16", 16},
      {"+16", 16},
      {"-5", -5},
      {"007", 7},
      {"9223372036854775807", kMax},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775808", kMin},
      {"-9223372036854775809", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"++1", std::nullopt},
      {"+-1", std::nullopt},
      {" 12", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"12,13", std::nullopt},
      {"0x10", std::nullopt},
      {"1e3", std::nullopt},
      {"\xd9\xa1\xd9\xa2", std::nullopt},  // Arabic-Indic digits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readContentLength(c.value), c.read) << c.value.toStdString();
  }
}

}  // namespace
