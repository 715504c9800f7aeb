// downloadImage against real local HTTPS servers (tests/support/skin_server.py):
// "localhost" is the skin site here, and a second server reached as
// 127.0.0.1 stands for any other host, which the address check refuses.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <future>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "base/HelperError.h"
#include "link/HostPolicy.h"
#include "link/ImageDownload.h"
#include "support/SkinServer.h"

namespace {

using testing_support::SkinServer;

const QString kStored;  // an empty expectation: the download succeeds
const QString kNotDownloaded = QStringLiteral("The skin image could not be downloaded.");
const QString kNotImage = QStringLiteral("The downloaded skin asset is not an image.");
const QString kAnnouncedTooLarge = QStringLiteral("The skin image is larger than 16 MiB.");
const QString kUnsupported = QStringLiteral("The skin image format is unsupported.");
const QString kEmptyOrTooLarge = QStringLiteral("The skin image is empty or too large.");

QString hostPolicyMessage() {
  return QStringLiteral("Velmora Helper only downloads HTTPS images from ") + skinSiteDomain() +
         u'.';
}

// The tests' site is https://localhost; every other address gets the
// helper's own host policy, which refuses it with its own error.
void localhostOnly(const QUrl& url) {
  if (url.scheme() == u"https" && url.host() == u"localhost") return;
  validateRemoteImageURL(url);
}

QString encoded(const QString& text) {
  return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

/// How one download ended, with the temporary root it was given.
struct Outcome {
  enum class Kind { stored, refused, platformError } kind = Kind::refused;
  QString message;  // the failure's text
  QString file;     // the stored file
  std::shared_ptr<QTemporaryDir> root;

  /// Every file under the temporary root.
  QStringList filesWritten() const {
    QStringList files;
    QDirIterator it(root->path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    return files;
  }
  bool rootEmpty() const {
    return QDir(root->path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot);
  }
};

void PrintTo(Outcome::Kind kind, std::ostream* os) {
  static const char* const kinds[] = {"stored", "refused", "platform error"};
  *os << kinds[static_cast<int>(kind)];
}

void PrintTo(const Outcome& outcome, std::ostream* os) {
  PrintTo(outcome.kind, os);
  *os << ": "
      << (outcome.kind == Outcome::Kind::stored ? outcome.file : outcome.message).toStdString();
}

// The test servers' certificate authority, trusted by the downloads here.
QString testAuthority() {
  return QDir(testing_support::testCertificateDir()).filePath(QStringLiteral("ca.pem"));
}

// Runs downloadImage on a worker thread, as the helper does.
Outcome download(const QUrl& address, DownloadOptions options = {},
                 std::shared_ptr<QTemporaryDir> root = std::make_shared<QTemporaryDir>()) {
  options.validateAddress = localhostOnly;
  options.certificateAuthorities = testAuthority();
  if (options.temporaryRoot.isEmpty()) options.temporaryRoot = root->path();
  Outcome outcome;
  outcome.root = root;
  std::async(std::launch::async, [&] {
    try {
      outcome.file = downloadImage(address, options).toLocalFile();
      outcome.kind = Outcome::Kind::stored;
    } catch (const HelperError& error) {
      outcome.message = error.localizedDescription();
    } catch (const PlatformError& error) {
      outcome.kind = Outcome::Kind::platformError;
      outcome.message = error.localizedDescription();
    }
  }).get();
  return outcome;
}

// Checks a stored file: `<root>/<UUID>/<name>` holding `size` bytes.
void expectStored(const Outcome& outcome, qint64 size,
                  const QString& name = QStringLiteral("background.png")) {
  ASSERT_EQ(outcome.kind, Outcome::Kind::stored) << testing::PrintToString(outcome);
  const QFileInfo file(outcome.file);
  EXPECT_EQ(file.fileName(), name);
  EXPECT_EQ(file.size(), size);
  static const QRegularExpression uuid(
      QStringLiteral("\\A[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\z"));
  EXPECT_TRUE(uuid.match(file.dir().dirName()).hasMatch()) << file.dir().dirName().toStdString();
  EXPECT_EQ(QFileInfo(file.dir().absolutePath()).dir().absolutePath(),
            QDir(outcome.root->path()).absolutePath());
}

void expectRefused(const Outcome& outcome, const QString& message) {
  ASSERT_EQ(outcome.kind, Outcome::Kind::refused) << testing::PrintToString(outcome);
  EXPECT_EQ(outcome.message, message);
}

class ImageDownloadTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    try {
      files_ = std::make_unique<QTemporaryDir>();
      site_ =
          std::make_unique<SkinServer>(SkinServer::Options{.tls = true, .root = files_->path()});
      offSite_ = std::make_unique<SkinServer>();
    } catch (const std::exception& error) {
      setUpError_ = error.what();
    }
  }
  static void TearDownTestSuite() {
    offSite_.reset();
    site_.reset();
    files_.reset();
  }
  void SetUp() override { ASSERT_TRUE(setUpError_.empty()) << setUpError_; }

  static Outcome fetch(const QString& pathAndQuery, const DownloadOptions& options = {}) {
    return download(site_->url(pathAndQuery), options);
  }

  static inline std::unique_ptr<QTemporaryDir> files_;
  static inline std::unique_ptr<SkinServer> site_;
  static inline std::unique_ptr<SkinServer> offSite_;
  static inline std::string setUpError_;
};

// --- Judging the response from its headers ---------------------------------

struct ResponseCase {
  const char* path;
  QString expected;  // kStored, or the refusal
  qint64 storedSize = 16;
  const char* storedName = "background.png";
};

void PrintTo(const ResponseCase& c, std::ostream* os) {
  *os << c.path;
}

class ResponseJudging : public ImageDownloadTest,
                        public testing::WithParamInterface<ResponseCase> {};

TEST_P(ResponseJudging, AcceptsOrRefusesBeforeStoringAnything) {
  const ResponseCase& c = GetParam();
  const Outcome outcome = fetch(QString::fromUtf8(c.path));
  if (c.expected.isEmpty()) {
    expectStored(outcome, c.storedSize, QString::fromUtf8(c.storedName));
  } else {
    expectRefused(outcome, c.expected);
    // Refused on its headers: no directory, no file.
    EXPECT_TRUE(outcome.rootEmpty()) << outcome.filesWritten().join(u' ').toStdString();
  }
}

// The judging itself is table-tested in ImageResponse_test; these cases check
// that each header reaches it from a real response, and that a refused
// response leaves nothing behind.
INSTANTIATE_TEST_SUITE_P(
    Status, ResponseJudging,
    testing::Values(ResponseCase{"/status/199/x.png", kNotDownloaded},
                    ResponseCase{"/status/200/x.png", kStored},
                    ResponseCase{"/status/404/x.png", kNotDownloaded},
                    // 300 and 304 are final even with a Location.
                    ResponseCase{"/redirect/300/x.png?to=/bytes/5/x.png", kNotDownloaded},
                    ResponseCase{"/redirect/304/x.png?to=/bytes/5/x.png", kNotDownloaded},
                    ResponseCase{"/redirect/302/x.png", kNotDownloaded}));

// A generic binary type is taken when the body starts with the signature
// of an accepted image format (the signatures are table-tested in
// ImageSignature_test); the refused body leaves nothing behind either.
INSTANTIATE_TEST_SUITE_P(
    ContentType, ResponseJudging,
    testing::Values(
        ResponseCase{"/type/text%2Fhtml/x.png", kNotImage},
        ResponseCase{"/type/none/x.png", kStored},
        ResponseCase{"/type/application%2Foctet-stream/x.png?head=89504e470d0a1a0a", kStored, 24},
        ResponseCase{"/type/Binary%2FOctet-Stream%3B%20x%3D1/x.png?head=ffd8ff", kStored, 19},
        ResponseCase{"/type/binary%2Foctet-stream/x.png?head=3c68746d6c3e", kNotImage},
        ResponseCase{"/type/application%2Foctet-stream/x.png", kNotImage},
        ResponseCase{"/type/application%2Fzip/x.png?head=89504e470d0a1a0a", kNotImage}));

// A length that is not a number of bytes makes the response unreadable
// HTTP: the transfer cannot know where the body ends.
INSTANTIATE_TEST_SUITE_P(ContentLength, ResponseJudging,
                         testing::Values(ResponseCase{"/length/16777217/10/x.png",
                                                      kAnnouncedTooLarge},
                                         ResponseCase{"/bytes/16777217/x.png", kAnnouncedTooLarge},
                                         ResponseCase{"/length/-5/10/x.png", kNotDownloaded},
                                         ResponseCase{"/length//10/x.png", kNotDownloaded}));

INSTANTIATE_TEST_SUITE_P(
    Extension, ResponseJudging,
    testing::Values(ResponseCase{"/bytes/10/photo.JPG", kStored, 10, "background.jpg"},
                    ResponseCase{"/bytes/10/skin.png?v=2", kStored, 10, "background.png"},
                    ResponseCase{"/bytes/10/skin.gif", kUnsupported},
                    // The first check in order decides.
                    ResponseCase{"/length/16777217/10/x.gif", kAnnouncedTooLarge}));

// --- The body ---------------------------------------------------------------

TEST_F(ImageDownloadTest, StoresABodyOfExactly16MiBReportingProgress) {
  qint64 lastReceived = 0, lastTotal = 0;
  bool monotonic = true;
  int finishedCalls = 0;
  DownloadOptions options;
  options.progress = [&](qint64 received, qint64 total) {
    monotonic = monotonic && received > lastReceived;
    lastReceived = received;
    lastTotal = total;
  };
  options.finished = [&] { ++finishedCalls; };

  expectStored(fetch(QStringLiteral("/bytes/16777216/x.png"), options), kMaxImageBytes);
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(lastReceived, kMaxImageBytes);
  EXPECT_EQ(lastTotal, kMaxImageBytes);
  EXPECT_EQ(finishedCalls, 1);
}

TEST_F(ImageDownloadTest, StoresTheBodyByteForByte) {
  QByteArray image(300 * 1024 + 7, Qt::Uninitialized);
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
  QFile source(QDir(files_->path()).filePath(QStringLiteral("aurora.webp")));
  ASSERT_TRUE(source.open(QIODevice::WriteOnly));
  source.write(image);
  source.close();

  const Outcome outcome = fetch(QStringLiteral("/aurora.webp"));
  expectStored(outcome, image.size(), QStringLiteral("background.webp"));
  QFile stored(outcome.file);
  ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
  EXPECT_TRUE(stored.readAll() == image);
}

TEST_F(ImageDownloadTest, RefusesAnEmptyBody) {
  for (const char* path : {"/bytes/0/x.png", "/bytes-nolength/0/x.png"}) {
    SCOPED_TRACE(path);
    expectRefused(fetch(QString::fromUtf8(path)), kEmptyOrTooLarge);
  }
}

TEST_F(ImageDownloadTest, CutsOffAnUnannouncedBodyPastTheLimit) {
  for (const char* path : {"/bytes-nolength/16777217/x.png", "/endless/x.png"}) {
    SCOPED_TRACE(path);
    qint64 mostReported = 0;
    int finishedCalls = 0;
    DownloadOptions options;
    options.progress = [&](qint64 received, qint64) { mostReported = received; };
    options.finished = [&] { ++finishedCalls; };

    const Outcome outcome = fetch(QString::fromUtf8(path), options);
    expectRefused(outcome, kEmptyOrTooLarge);
    EXPECT_EQ(finishedCalls, 1);
    EXPECT_LE(mostReported, kMaxImageBytes);
    // The partial file and its directory are taken back.
    EXPECT_TRUE(outcome.rootEmpty()) << outcome.filesWritten().join(u' ').toStdString();
  }
}

// --- Encoded bodies ---------------------------------------------------------------

// The generated body of the test server: byte i is (i * 7 + 3) % 256.
QByteArray patternBytes(qint64 size) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (qint64 i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 256);
  return bytes;
}

TEST_F(ImageDownloadTest, DecodesAnEncodedBodyUnderTheImageLimit) {
  // These servers encode the body whatever the request offered. The limit
  // counts the decoded image, so a 16 MiB image that does not compress is
  // taken though it is larger on the wire; a stream that decodes to nothing
  // ends at the limit on the bytes as sent.
  const struct {
    const char* path;
    QString expected;
    qint64 size = 0;
    bool pattern = true;  // the stored bytes are the server's generated pattern
  } cases[] = {
      {"/encoded/gzip/13200000/x.png", kStored, 13200000},
      {"/encoded/x-gzip/1000/x.png", kStored, 1000},
      {"/encoded/deflate/1000/x.png", kStored, 1000},
      {"/encoded/raw-deflate/1000/x.png", kStored, 1000},
      {"/chunked/300000/x.png", kStored, 300000},
      {"/noise/gzip/16777216/x.png", kStored, 16777216, false},
      {"/encoded/br/1000/x.png", kNotDownloaded},
      {"/encoded/x-unknown/1000/x.png", kNotDownloaded},
      {"/encoded/gzip/16777217/x.png", kEmptyOrTooLarge},
      {"/empty-deflate/x.png", kEmptyOrTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Outcome outcome = fetch(QString::fromUtf8(c.path));
    if (!c.expected.isEmpty()) {
      expectRefused(outcome, c.expected);
      EXPECT_TRUE(outcome.rootEmpty()) << outcome.filesWritten().join(u' ').toStdString();
      continue;
    }
    expectStored(outcome, c.size);
    QFile stored(outcome.file);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    if (c.pattern) {
      EXPECT_TRUE(stored.readAll() == patternBytes(c.size));
    }
  }
}

TEST_F(ImageDownloadTest, EndsAGzipBombAtTheLimitAtOnce) {
  // 100 MiB of zeros, about 100 KB on the wire, in HTTP/1.1 chunks.
  QElapsedTimer timer;
  timer.start();
  const Outcome outcome = fetch(QStringLiteral("/gzip-bomb/104857600/x.png"));
  expectRefused(outcome, kEmptyOrTooLarge);
  EXPECT_LT(timer.elapsed(), 10000);  // not the 60 s stall limit
  EXPECT_TRUE(outcome.rootEmpty());
}

TEST_F(ImageDownloadTest, TwoDownloadsOfOneAddressLandInTwoDirectories) {
  auto root = std::make_shared<QTemporaryDir>();
  const QUrl address = site_->url(QStringLiteral("/bytes/10/x.png"));
  const Outcome first = download(address, {}, root);
  const Outcome second = download(address, {}, root);
  expectStored(first, 10);
  expectStored(second, 10);
  EXPECT_NE(QFileInfo(first.file).dir().path(), QFileInfo(second.file).dir().path());
}

// --- Stalls ---------------------------------------------------------------------

TEST_F(ImageDownloadTest, GivesUpOnATransferThatReceivesNothing) {
  const struct {
    const char* path;
    QString message;
  } cases[] = {
      {"/silent/x.png", QStringLiteral("localhost is not answering. Try again later.")},
      {"/stall/x.png",
       QStringLiteral("localhost stopped sending the skin image. Try again later.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    int finishedCalls = 0;
    DownloadOptions options;
    options.stallTimeout = std::chrono::seconds(1);
    options.finished = [&] { ++finishedCalls; };
    const Outcome outcome = fetch(QString::fromUtf8(c.path), options);
    EXPECT_EQ(outcome.kind, Outcome::Kind::platformError) << testing::PrintToString(outcome);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(finishedCalls, 1);
  }
}

TEST_F(ImageDownloadTest, KeepsASlowButSteadyTransferAlive) {
  DownloadOptions options;
  options.stallTimeout = std::chrono::seconds(1);
  // Six bytes or header lines 300 ms apart: longer than the stall timeout
  // in all, never silent for that long. Header bytes count as much as the
  // body's.
  expectStored(fetch(QStringLiteral("/drip/6/300/x.png"), options), 6);
  expectStored(fetch(QStringLiteral("/header-drip/6/300/x.png"), options), 16);
}

// --- Headers ----------------------------------------------------------------------

TEST_F(ImageDownloadTest, TakesInformationalResponsesAndBoundsAllHeadersTogether) {
  const struct {
    const char* path;
    QString expected;
  } cases[] = {
      {"/hints/1/200/x.png", kStored},     // 103 Early Hints, then the image
      {"/hints/3/1000/x.png", kStored},    // several of them
      {"/headers/250000/x.png", kStored},  // 250 KB of headers
      {"/headers/270000/x.png", kNotDownloaded},
      // 4 x 70 KB: each response's headers are small, together too many.
      {"/hints/4/70000/x.png", kNotDownloaded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Outcome outcome = fetch(QString::fromUtf8(c.path));
    if (c.expected.isEmpty()) {
      expectStored(outcome, 16);
    } else {
      expectRefused(outcome, c.expected);
      EXPECT_TRUE(outcome.rootEmpty());
    }
  }
}

// --- Redirects --------------------------------------------------------------------

TEST_F(ImageDownloadTest, FollowsRedirectsWithinTheSiteOneRequestPerHop) {
  const QString image = QStringLiteral("/bytes/5/x.png");
  const QString absolute = site_->url(image).toString();
  const QString chain = QStringLiteral("/redirect/307/x.png?to=") +
                        encoded(QStringLiteral("/redirect/308/x.png?to=") + encoded(absolute));
  const struct {
    QString path;
    int requests;
  } cases[] = {
      {QStringLiteral("/redirect/302/x.png?to=") + encoded(absolute), 2},
      {QStringLiteral("/redirect/301/x.png?to=") + encoded(image), 2},
      {QStringLiteral("/redirect/303/x.png?to=") + encoded(QStringLiteral("../../bytes/5/y.png")),
       2},
      {QStringLiteral("/redirect/302/x.png?to=") + encoded(chain), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const qsizetype before = site_->requests().size();
    expectStored(fetch(c.path), 5);
    EXPECT_EQ(site_->requests().size() - before, c.requests)
        << site_->requests().mid(before).join(u'\n').toStdString();
  }
}

TEST_F(ImageDownloadTest, RefusesARedirectOffTheSiteWithoutContactingIt) {
  const QString offSite =
      offSite_->url(QStringLiteral("/bytes/5/x.png"), QStringLiteral("127.0.0.1")).toString();
  const QString plain = site_
                            ->url(QStringLiteral("/bytes/5/x.png"), QStringLiteral("localhost"),
                                  QStringLiteral("http"))
                            .toString();
  const QString viaSite = QStringLiteral("/redirect/302/x.png?to=") +
                          encoded(QStringLiteral("/redirect/307/x.png?to=") + encoded(offSite));
  for (const QString& path :
       {QStringLiteral("/redirect/302/x.png?to=") + encoded(offSite),
        QStringLiteral("/redirect/301/x.png?to=") + encoded(plain), viaSite}) {
    SCOPED_TRACE(path.toStdString());
    const qsizetype before = site_->requests().size();
    const Outcome outcome = fetch(path);
    expectRefused(outcome, hostPolicyMessage());
    EXPECT_TRUE(outcome.rootEmpty());
    // Only the site's own hops were asked; a refused target never is.
    for (const QString& request : site_->requests().mid(before)) {
      EXPECT_TRUE(request.startsWith(u"GET /redirect/")) << request.toStdString();
    }
  }
  EXPECT_EQ(offSite_->requests(), QStringList());
}

TEST_F(ImageDownloadTest, RefusesAnOffSiteAddressBeforeAnyRequest) {
  const Outcome outcome =
      download(offSite_->url(QStringLiteral("/bytes/5/x.png"), QStringLiteral("127.0.0.1")));
  expectRefused(outcome, hostPolicyMessage());
  EXPECT_EQ(offSite_->requests(), QStringList());
}

TEST_F(ImageDownloadTest, GivesUpOnARedirectLoop) {
  const qsizetype before = site_->requests().size();
  expectRefused(fetch(QStringLiteral("/loop/x.png")), kNotDownloaded);
  // The first request and twenty redirects.
  EXPECT_EQ(site_->requests().size() - before, 21);
}

// --- Transport and file-system failures ----------------------------------------

TEST_F(ImageDownloadTest, SaysInASentenceWhyTheTransferFailed) {
  SkinServer plainHttp(SkinServer::Options{.tls = false, .root = {}});
  SkinServer stopped;
  stopped.stop();
  const struct {
    QUrl address;
    QString message;
  } cases[] = {
      {plainHttp.url(QStringLiteral("/bytes/5/x.png")),
       QStringLiteral("A secure connection to localhost could not be made. Try again later.")},
      {stopped.url(QStringLiteral("/bytes/5/x.png")),
       QStringLiteral("localhost could not be reached. Check the internet connection.")},
      {site_->url(QStringLiteral("/reset/100000/x.png")),
       QStringLiteral("The connection to localhost broke off before the skin image was "
                      "complete. Try again later.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address.toString().toStdString());
    const Outcome outcome = download(c.address);
    EXPECT_EQ(outcome.kind, Outcome::Kind::platformError) << testing::PrintToString(outcome);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_TRUE(outcome.rootEmpty());
  }

  // The system's trust store does not hold the test authority.
  DownloadOptions systemTrust;
  systemTrust.validateAddress = localhostOnly;
  QTemporaryDir root;
  systemTrust.temporaryRoot = root.path();
  QString message;
  std::async(std::launch::async, [&] {
    try {
      downloadImage(site_->url(QStringLiteral("/bytes/5/x.png")), systemTrust);
    } catch (const PlatformError& error) {
      message = error.localizedDescription();
    }
  }).get();
  EXPECT_EQ(message, QStringLiteral("The secure connection to localhost could not be verified: "
                                    "its certificate is not signed by an authority this "
                                    "computer trusts."));

  // A trusted certificate made for other names than the one connected to.
  SkinServer otherName(SkinServer::Options{.tls = true, .root = {}, .bind = "127.0.0.2"});
  DownloadOptions anyLoopback;
  anyLoopback.validateAddress = [](const QUrl&) {};
  anyLoopback.certificateAuthorities = testAuthority();
  anyLoopback.temporaryRoot = root.path();
  message.clear();
  std::async(std::launch::async, [&] {
    try {
      downloadImage(otherName.url(QStringLiteral("/bytes/5/x.png"), QStringLiteral("127.0.0.2")),
                    anyLoopback);
    } catch (const PlatformError& error) {
      message = error.localizedDescription();
    }
  }).get();
  EXPECT_EQ(message, QStringLiteral("The secure connection to 127.0.0.2 could not be verified: "
                                    "its certificate is not for 127.0.0.2."));
  EXPECT_TRUE(QDir(root.path()).isEmpty());
}

TEST_F(ImageDownloadTest, PassesFileSystemFailuresThrough) {
  auto root = std::make_shared<QTemporaryDir>();
  const QString notADirectory = root->filePath(QStringLiteral("file"));
  QFile file(notADirectory);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  DownloadOptions options;
  options.temporaryRoot = notADirectory;
  const Outcome outcome = download(site_->url(QStringLiteral("/bytes/5/x.png")), options, root);
  EXPECT_EQ(outcome.kind, Outcome::Kind::platformError) << testing::PrintToString(outcome);
  EXPECT_TRUE(outcome.message.startsWith(notADirectory)) << outcome.message.toStdString();
}

// --- Download faults found by injecting them into the real helper ----------------
// (tests/e2e/test_faults.py), kept here as regression cases.

/// Lowers this process's file-size limit to `bytes`, with SIGXFSZ ignored so
/// that a write past it fails with EFBIG instead of ending the process;
/// restores both when it goes.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
  }

 private:
  rlimit saved_{};
  void (*savedHandler_)(int) = SIG_DFL;
};

TEST(DownloadFindings, AWriteThatStopsShortReportsTheSystemsReason) {
  // The file system takes part of a chunk and then refuses the rest (a full
  // disk, here a file-size limit). The alert used to read "...: Unknown
  // error", because a short write carries no reason of its own.
  SkinServer site(SkinServer::Options{});
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  DownloadOptions options;
  options.temporaryRoot = root.path();
  options.validateAddress = [](const QUrl&) {};
  options.certificateAuthorities = testAuthority();

  QString failure;
  {
    const FileSizeLimit limit(100'000);
    std::async(std::launch::async, [&] {
      try {
        downloadImage(site.url(QStringLiteral("/bytes/300000/x.png")), options);
      } catch (const Failure& error) {
        failure = error.localizedDescription();
      }
    }).get();
  }
  EXPECT_TRUE(failure.startsWith(root.path() + u'/')) << failure.toStdString();
  EXPECT_TRUE(failure.endsWith(QStringLiteral("/background.png: File too large")))
      << failure.toStdString();
}

}  // namespace

TEST_F(ImageDownloadTest, CancelStopsTheTransferAtOnceAndLeavesNothingBehind) {
  struct Case {
    const char* what;
    QString route;
    enum { beforeItStarts, onceTheRequestIsIn, onceBodyBytesArrive } when;  // from another thread
  };
  const Case cases[] = {
      {"while the body flows", QStringLiteral("/drip/100/100/a.png"), Case::onceBodyBytesArrive},
      {"while the server is silent", QStringLiteral("/stall/a.png"), Case::onceTheRequestIsIn},
      {"before it starts", QStringLiteral("/bytes/1000/a.png"), Case::beforeItStarts},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir root;
    auto cancel = std::make_shared<DownloadCancel>();
    DownloadOptions options;
    options.validateAddress = localhostOnly;
    options.certificateAuthorities = testAuthority();
    options.temporaryRoot = root.path();
    options.cancel = cancel;
    std::atomic<bool> bodyArrived = false;
    options.progress = [&](qint64 received, qint64) {
      if (received > 0) bodyArrived = true;
    };
    const qsizetype requestsBefore = site_->requests().size();
    if (c.when == Case::beforeItStarts) {
      EXPECT_TRUE(cancel->cancel());
    }
    std::thread user([&] {
      if (c.when == Case::beforeItStarts) return;
      const QDeadlineTimer patience(5000);
      while (!(c.when == Case::onceBodyBytesArrive ? bodyArrived.load()
                                                   : site_->requests().size() > requestsBefore) &&
             !patience.hasExpired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_TRUE(cancel->cancel());
    });
    QElapsedTimer clock;
    clock.start();
    bool cancelled = false;
    std::async(std::launch::async, [&] {
      try {
        downloadImage(site_->url(c.route), options);
      } catch (const DownloadCancelled&) {
        cancelled = true;
      } catch (...) {
      }
    }).get();
    user.join();
    EXPECT_TRUE(cancelled);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(QDir(root.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
        << "the partial file and its directory are removed";
  }

  // Once the image is stored it belongs to the engine: cancelling is refused.
  auto cancel = std::make_shared<DownloadCancel>();
  DownloadOptions options;
  options.cancel = cancel;
  expectStored(fetch(QStringLiteral("/bytes/1000/a.png"), options), 1000);
  EXPECT_FALSE(cancel->cancel());
}
