#pragma once
// The test certificate authority: made once by make_test_ca.sh under the
// test build directory; a download trusts it when given its ca.pem.
#include <QDir>
#include <QProcess>
#include <QString>
#include <stdexcept>

namespace testing_support {

/// The directory holding ca.pem, ca.key, server.pem and server.key; creates
/// them on first use. Throws std::runtime_error when the script fails.
inline QString testCertificateDir() {
  static const QString dir = [] {
    const QString path =
        QDir(QStringLiteral(VELMORA_TEST_BUILD_DIR)).filePath(QStringLiteral("test-ca"));
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"),
                 {QStringLiteral(VELMORA_TEST_SUPPORT_DIR "/make_test_ca.sh"), path});
    if (!script.waitForFinished(60000) || script.exitStatus() != QProcess::NormalExit ||
        script.exitCode() != 0) {
      throw std::runtime_error("make_test_ca.sh failed: " + script.readAll().toStdString());
    }
    return path;
  }();
  return dir;
}

}  // namespace testing_support
