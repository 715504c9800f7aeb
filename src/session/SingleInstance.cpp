#include "session/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include "session/DisplayProbe.h"

namespace {

/// How long a later launch waits for the running instance to take its hand-over.
constexpr int kAnswerMs = 30000;
/// How long the running instance waits for a connected launch to send it all.
constexpr int kSendingMs = 5000;

/// Whether the process at the other end of `descriptor` runs as this user.
bool peerIsThisUser(qintptr descriptor) {
#if defined(SO_PEERCRED)
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
      0) {
    return false;
  }
  return credentials.uid == ::geteuid();
#else
  uid_t uid = 0;
  gid_t gid = 0;
  if (::getpeereid(static_cast<int>(descriptor), &uid, &gid) != 0) return false;
  return uid == ::geteuid();
#endif
}

}  // namespace

QString singleInstanceName(uint uid, const QByteArray& platformEntry, const QByteArray& display) {
  QCryptographicHash digest(QCryptographicHash::Sha256);
  digest.addData(QByteArray::number(uid) + '\0' + platformName(platformEntry) + '\0' + display);
  return QStringLiteral("velmora-helper-") + QString::fromLatin1(digest.result().toHex().left(16));
}

QString singleInstanceNameFor(const QByteArray& platformEntry) {
  const QByteArray platform = platformName(platformEntry);
  QByteArray display;
  if (platform == "xcb") display = qgetenv("DISPLAY");
  if (platform.startsWith("wayland")) display = qgetenv("WAYLAND_DISPLAY");
  return singleInstanceName(::geteuid(), platform, display);
}

SingleInstance::SingleInstance(const QString& directory, const QString& name)
    : lockPath_(QDir(directory).filePath(name + QStringLiteral(".lock"))),
      socketPath_(QDir(directory).filePath(name + QStringLiteral(".socket"))),
      lock_(lockPath_) {
  // Never judged stale by age: only when the process that holds it is gone.
  lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
  // Stop listening before the lock goes, so a launch never finds the lock free
  // while this socket still answers.
  server_.reset();
}

SingleInstance::Claim SingleInstance::claim(const HandOver& handOver, int patienceMs) {
  const QByteArray frame = encodeHandOver(handOver);
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    // A lock whose process is gone (killed, crashed) is removed by tryLock.
    if (lock_.tryLock(0)) return Claim::first;
    if (lock_.error() != QLockFile::LockFailedError) {
      problem_ =
          QStringLiteral("cannot create %1, running without the single instance").arg(lockPath_);
      return Claim::unavailable;
    }
    switch (handTo(frame)) {
      case Attempt::taken:
        return Claim::handedOver;
      case Attempt::busy:
        return Claim::busy;
      case Attempt::noAnswer:
        problem_ = QStringLiteral("the running Velmora Helper did not answer");
        return Claim::unanswered;
      case Attempt::notListening:  // just starting, or just ending
      case Attempt::refused:       // ending: wait to take its place
        break;
    }
    if (clock.hasExpired(patienceMs)) {
      problem_ =
          QStringLiteral("another Velmora Helper holds %1 but does not answer, running alone")
              .arg(lockPath_);
      return Claim::unavailable;
    }
    QThread::msleep(20);
  }
}

SingleInstance::Attempt SingleInstance::handTo(const QByteArray& frame) {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(1000)) return Attempt::notListening;
  socket.write(frame);
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(kSendingMs)) {
      return socket.state() == QLocalSocket::ConnectedState ? Attempt::noAnswer : Attempt::refused;
    }
  }
  while (socket.bytesAvailable() < 1) {
    if (socket.state() != QLocalSocket::ConnectedState) return Attempt::refused;
    if (!socket.waitForReadyRead(kAnswerMs) && socket.bytesAvailable() < 1) {
      return socket.state() == QLocalSocket::ConnectedState ? Attempt::noAnswer : Attempt::refused;
    }
  }
  char answer = 0;
  socket.getChar(&answer);
  if (answer == kHandOverTaken) return Attempt::taken;
  if (answer == kHandOverBusy) return Attempt::busy;
  return Attempt::refused;
}

bool SingleInstance::listen() {
  // This process holds the lock, so no live instance listens here: a socket
  // file left on disk belongs to one that crashed.
  QLocalServer::removeServer(socketPath_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socketPath_)) {
    problem_ = QStringLiteral("cannot listen on %1: %2").arg(socketPath_, server_->errorString());
    server_.reset();
    return false;
  }
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* connection = server_->nextPendingConnection()) serve(connection);
  });
  return true;
}

void SingleInstance::setAnswer(std::function<Answer()> answer) {
  answer_ = std::move(answer);
}

void SingleInstance::serve(QLocalSocket* connection) {
  connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
  if (!peerIsThisUser(connection->socketDescriptor())) {
    connection->abort();
    return;
  }
  // A launch that connects and then stalls is cut off.
  QTimer::singleShot(kSendingMs, connection, [connection] { connection->abort(); });
  auto buffer = std::make_shared<QByteArray>();
  connect(connection, &QLocalSocket::readyRead, this,
          [this, connection, buffer] { readHandOver(connection, *buffer); });
  if (connection->bytesAvailable() > 0) readHandOver(connection, *buffer);
}

void SingleInstance::readHandOver(QLocalSocket* connection, QByteArray& buffer) {
  buffer.append(connection->read(kMaxHandOverBytes + 4 - buffer.size() + 1));
  const qint64 length = announcedHandOverLength(buffer);
  if (length < 0) return;
  if (length > kMaxHandOverBytes || buffer.size() > length + 4) {
    connection->abort();
    return;
  }
  if (buffer.size() < length + 4) return;
  const std::optional<HandOver> handOver = decodeHandOver(buffer.mid(4));
  const Answer answer = !handOver ? Answer::refuse : answer_ ? answer_() : Answer::take;
  if (answer == Answer::refuse) {
    connection->abort();
    return;
  }
  connection->write(answer == Answer::busy ? &kHandOverBusy : &kHandOverTaken, 1);
  connection->disconnectFromServer();
  if (answer == Answer::take) emit received(*handOver);
}
