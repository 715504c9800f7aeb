#pragma once
#include <QByteArray>
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "session/HandOver.h"

class QLocalSocket;

/// The name the instances of one user on one display share: "velmora-helper-"
/// and a digest of `uid`, the Qt platform (a QT_QPA_PLATFORM entry) and the
/// display that platform uses, short enough for a socket path.
QString singleInstanceName(uint uid, const QByteArray& platformEntry, const QByteArray& display);

/// singleInstanceName for this process: its user, the platform the display
/// probe chose (`platformEntry`) and DISPLAY or WAYLAND_DISPLAY to match.
QString singleInstanceNameFor(const QByteArray& platformEntry);

/// Keeps the dialog front end to one instance per user and display. The
/// instance that holds `<directory>/<name>.lock` listens on
/// `<directory>/<name>.socket` (owner-only access); a later launch finds the
/// lock taken, hands its open event over the socket and ends. A lock or socket
/// left by an instance that crashed is recovered.
class SingleInstance final : public QObject {
  Q_OBJECT

 public:
  enum class Claim {
    first,        ///< this process holds the lock: it must listen() once Qt is up
    handedOver,   ///< the running instance took the hand-over: end with status 0
    busy,         ///< the running instance is applying a skin and did not take it
    unanswered,   ///< sent, but the running instance never acknowledged (see problem())
    unavailable,  ///< no lock and no running instance to hand to (see problem()): run alone
  };

  /// Uses `directory` (which must exist, owner-only) for the lock and the socket.
  SingleInstance(const QString& directory, const QString& name);
  ~SingleInstance() override;

  /// Takes the lock, or hands `handOver` to the instance holding it. Waits at
  /// most `patienceMs` for an instance that is just starting or ending.
  /// Blocking; needs no event loop.
  Claim claim(const HandOver& handOver, int patienceMs = 10000);

  /// After claim() returned first and the application object exists: replaces
  /// a socket left by a crashed instance and listens. False (see problem()) if
  /// it could not.
  bool listen();

  /// How the running instance answers a hand-over.
  enum class Answer {
    take,    ///< acknowledged and passed on with received()
    busy,    ///< not taken: the later launch reports Claim::busy
    refuse,  ///< the connection is closed: the later launch waits to take this one's place
  };

  /// Decides, when a hand-over arrives, how it is answered. All are taken when unset.
  void setAnswer(std::function<Answer()> answer);

  /// What went wrong, for one line on standard error.
  QString problem() const { return problem_; }

  QString socketPath() const { return socketPath_; }

 signals:
  /// A later launch handed this over; it has been acknowledged.
  void received(const HandOver& handOver);

 private:
  enum class Attempt { taken, busy, notListening, refused, noAnswer };
  Attempt handTo(const QByteArray& frame);
  void serve(QLocalSocket* connection);
  void readHandOver(QLocalSocket* connection, QByteArray& buffer);

  QString lockPath_;
  QString socketPath_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
  std::function<Answer()> answer_;
  QString problem_;
};
