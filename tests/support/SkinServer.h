#pragma once
// Runs tests/support/skin_server.py as a child process for the lifetime of
// one object: on a free port of 127.0.0.1, over HTTPS with the test CA's
// server certificate unless asked for plain HTTP.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <stdexcept>

#include "support/TestCertificates.h"

namespace testing_support {

/// A running skin test server; stopped when the object is destroyed.
class SkinServer {
 public:
  struct Options {
    /// HTTPS with the test CA's server certificate; plain HTTP when false.
    bool tls = true;
    /// Served at their relative paths when not empty.
    QString root;
    /// The loopback address listened on.
    QString bind = QStringLiteral("127.0.0.1");
  };

  /// Starts the server and waits until it listens; throws std::runtime_error.
  explicit SkinServer(const Options& options) {
    if (!work_.isValid()) throw std::runtime_error("no temporary directory");
    QStringList arguments{QStringLiteral(VELMORA_TEST_SUPPORT_DIR "/skin_server.py"),
                          QStringLiteral("--port"),
                          QStringLiteral("0"),
                          QStringLiteral("--port-file"),
                          work_.filePath(QStringLiteral("port")),
                          QStringLiteral("--log"),
                          logPath()};
    if (options.tls) {
      const QDir ca(testCertificateDir());
      arguments << QStringLiteral("--cert") << ca.filePath(QStringLiteral("server.pem"))
                << QStringLiteral("--key") << ca.filePath(QStringLiteral("server.key"));
    }
    if (!options.root.isEmpty()) arguments << QStringLiteral("--root") << options.root;
    arguments << QStringLiteral("--bind") << options.bind;

    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(python(), arguments);
    if (!process_.waitForStarted(10000)) {
      throw std::runtime_error("cannot start skin_server.py: " +
                               process_.errorString().toStdString());
    }
    QFile portFile(work_.filePath(QStringLiteral("port")));
    const QDeadlineTimer deadline(20000);
    while (!portFile.open(QIODevice::ReadOnly)) {
      if (process_.state() != QProcess::Running || deadline.hasExpired()) {
        throw std::runtime_error("skin_server.py did not start listening");
      }
      QThread::msleep(20);
    }
    port_ = portFile.readAll().trimmed().toUShort();
  }

  /// A server that serves nothing of its own.
  SkinServer() : SkinServer(Options{}) {}

  ~SkinServer() { stop(); }

  SkinServer(const SkinServer&) = delete;
  SkinServer& operator=(const SkinServer&) = delete;

  /// Ends the server; its port is then closed.
  void stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

  /// The port the server listens on.
  quint16 port() const { return port_; }

  /// `https://HOST:PORT` followed by `pathAndQuery` (which starts with '/').
  QUrl url(const QString& pathAndQuery, const QString& host = QStringLiteral("localhost"),
           const QString& scheme = QStringLiteral("https")) const {
    return QUrl(QStringLiteral("%1://%2:%3%4").arg(scheme, host).arg(port_).arg(pathAndQuery));
  }

  /// Every request received so far, one "METHOD TARGET" line each.
  QStringList requests() const {
    QFile log(logPath());
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
  }

 private:
  static QString python() {
#ifdef VELMORA_PYTHON3
    return QStringLiteral(VELMORA_PYTHON3);
#else
    return QStringLiteral("python3");
#endif
  }

  QString logPath() const {
    return work_.filePath(QStringLiteral("requests.log"));
  }

  QTemporaryDir work_;
  QProcess process_;
  quint16 port_ = 0;
};

}  // namespace testing_support
