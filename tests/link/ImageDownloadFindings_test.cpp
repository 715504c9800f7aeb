// Download faults found by injecting them into the real helper
// (tests/e2e/test_faults.py), kept here as regression cases.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <csignal>
#include <future>

#include "app/HelperError.h"
#include "link/ImageDownload.h"
#include "support/SkinServer.h"

namespace {

using testing_support::SkinServer;

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
  testing_support::trustTestCertificateAuthority();
  SkinServer site(SkinServer::Options{});
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  DownloadOptions options;
  options.temporaryRoot = root.path();
  options.validateAddress = [](const QUrl&) {};

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
