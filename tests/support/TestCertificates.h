#pragma once
// The test certificate authority: made once by make_test_ca.sh under the
// test build directory, and trusted by this test process only.
#include <QDir>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
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

/// Adds the test CA to the default TLS configuration of this process, so
/// every later connection trusts the test servers' certificates.
inline void trustTestCertificateAuthority() {
  const auto certificates = QSslCertificate::fromPath(
      QDir(testCertificateDir()).filePath(QStringLiteral("ca.pem")), QSsl::Pem);
  if (certificates.isEmpty()) throw std::runtime_error("test CA certificate unreadable");
  QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
  configuration.addCaCertificates(certificates);
  QSslConfiguration::setDefaultConfiguration(configuration);
}

}  // namespace testing_support
