#include "session/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtEndian>

#include <future>

#include <sys/stat.h>
#include <unistd.h>

#include "session/InstanceDirectory.h"

namespace {

const OpenEvent kLinks{OpenEvent::Kind::urls,
                       {QStringLiteral("velmora://apply?image=https://velmora.app/a.png"),
                        QStringLiteral("file:///home/u/A%20b.velmora")}};
const OpenEvent kFiles{OpenEvent::Kind::files, {QStringLiteral("/home/u/Ä b.velmora")}};

QByteArray payloadOf(const QByteArray& frame) {
  return frame.mid(4);
}

TEST(HandOver, RoundTripsEventsAndToken) {
  for (const HandOver& sent : {HandOver{kLinks, QStringLiteral("token-1")}, HandOver{kFiles, {}}}) {
    const QByteArray frame = encodeHandOver(sent);
    EXPECT_EQ(announcedHandOverLength(frame), frame.size() - 4);
    const std::optional<HandOver> got = decodeHandOver(payloadOf(frame));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->event.kind, sent.event.kind);
    EXPECT_EQ(got->event.items, sent.event.items);
    EXPECT_EQ(got->activationToken, sent.activationToken);
  }
  EXPECT_EQ(announcedHandOverLength("abc"), -1);
}

TEST(HandOver, RefusesAnythingElse) {
  const QByteArray good = payloadOf(encodeHandOver({kLinks, {}}));
  QByteArray wrongMagic = good;
  wrongMagic[0] = 'X';
  QByteArray noneKind;
  {
    QDataStream out(&noneKind, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(0x564c4d31) << quint8(0) << QStringList{} << QString();
  }
  QByteArray strangeKind = noneKind;
  strangeKind[4] = 7;
  const struct {
    const char* what;
    QByteArray payload;
  } cases[] = {
      {"empty", {}},
      {"truncated", good.left(good.size() - 3)},
      {"trailing bytes", good + "x"},
      {"wrong magic", wrongMagic},
      {"no event", noneKind},
      {"unknown kind", strangeKind},
      {"too large", QByteArray(kMaxHandOverBytes + 1, 'a')},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(decodeHandOver(c.payload)) << c.what;
  }
}

TEST(SingleInstanceName, OnePerUserPlatformAndDisplay) {
  const QString base = singleInstanceName(1000, "xcb", ":0");
  EXPECT_TRUE(base.startsWith(QStringLiteral("velmora-helper-")));
  EXPECT_LE(base.size(), 40);
  EXPECT_EQ(singleInstanceName(1000, "xcb:nograb", ":0"), base) << "platform options do not count";
  EXPECT_NE(singleInstanceName(1001, "xcb", ":0"), base);
  EXPECT_NE(singleInstanceName(1000, "xcb", ":1"), base);
  EXPECT_NE(singleInstanceName(1000, "wayland", ":0"), base);
  EXPECT_NE(singleInstanceName(1000, "offscreen", ""), singleInstanceName(1000, "minimal", ""));
}

/// Runs the event loop until `done` or `ms` have passed.
void spinUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && !clock.hasExpired(ms))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

/// A later launch's claim, made on another thread so that this thread's event
/// loop can serve it, as the running instance's would.
std::future<SingleInstance::Claim> claimElsewhere(const QString& directory,
                                                  const HandOver& handOver, int patienceMs = 3000) {
  return std::async(std::launch::async, [directory, handOver, patienceMs] {
    SingleInstance later(directory, QStringLiteral("test"));
    return later.claim(handOver, patienceMs);
  });
}

SingleInstance::Claim waitFor(std::future<SingleInstance::Claim>& claim) {
  spinUntil([&] { return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            20000);
  return claim.get();
}

TEST(InstanceDirectory, TheRuntimeDirectoryElseAPrivateOneThatNoOtherUserMadeFirst) {
  // Another user is simulated by "nobody", which only root can hand a directory to.
  constexpr uid_t kNobody = 65534;
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory to another user";
  const QString uid = QString::number(::geteuid());
  enum class Made { missing, own, ownOpen, foreign, link };
  struct Case {
    const char* what;
    Made runtime, shared, cache;
    const char* expected;  ///< "runtime", "shared", "cache" or "" for none
  } cases[] = {
      {"the runtime directory", Made::own, Made::missing, Made::missing, "runtime"},
      {"no runtime directory", Made::missing, Made::missing, Made::missing, "shared"},
      {"another user's runtime directory", Made::foreign, Made::missing, Made::missing, "shared"},
      {"a runtime directory others may enter", Made::ownOpen, Made::own, Made::missing, "shared"},
      {"a shared one another user made first", Made::missing, Made::foreign, Made::missing,
       "cache"},
      {"a link where the shared one goes", Made::missing, Made::link, Made::missing, "cache"},
      {"one's own shared one, left open", Made::missing, Made::ownOpen, Made::missing, "shared"},
      {"nothing of one's own", Made::foreign, Made::foreign, Made::foreign, ""},
  };
  for (const Case& c : cases) {
    QTemporaryDir scratch;
    const QString runtime = scratch.filePath(QStringLiteral("run"));
    const QString temporary = scratch.filePath(QStringLiteral("tmp"));
    const QString home = scratch.filePath(QStringLiteral("home"));
    const QString shared = temporary + QStringLiteral("/velmora-helper-") + uid;
    const QString cache = home + QStringLiteral("/.cache/velmora-helper");
    ASSERT_TRUE(QDir().mkpath(temporary) && QDir().mkpath(home));
    // Where nothing is made there, ~/.cache is missing too.
    if (c.cache != Made::missing) {
      ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/.cache")));
    }
    const auto make = [&](const QString& path, Made made) {
      const QByteArray bytes = QFile::encodeName(path);
      if (made == Made::missing) return;
      if (made == Made::link) {
        ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("elsewhere"))));
        ASSERT_TRUE(QFile::link(scratch.filePath(QStringLiteral("elsewhere")), path));
        return;
      }
      ASSERT_EQ(::mkdir(bytes.constData(), 0700), 0);
      if (made == Made::ownOpen) {
        ASSERT_EQ(::chmod(bytes.constData(), 0755), 0);
      }
      if (made == Made::foreign) {
        ASSERT_EQ(::chown(bytes.constData(), kNobody, kNobody), 0);
      }
    };
    make(runtime, c.runtime);
    make(shared, c.shared);
    make(cache, c.cache);
    QString problem;
    const QString chosen = instanceDirectory(runtime, temporary, home, problem);
    const std::string expected = c.expected;
    const QString wanted = expected == "runtime"  ? runtime
                           : expected == "shared" ? shared
                           : expected == "cache"  ? cache
                                                  : QString();
    EXPECT_EQ(chosen, wanted) << c.what;
    EXPECT_EQ(problem.isEmpty(), !wanted.isEmpty()) << c.what;
    if (!chosen.isEmpty()) {
      EXPECT_TRUE(isPrivateDirectory(chosen, ::geteuid())) << c.what;
    }
  }
}

TEST(SingleInstance, FirstListensLaterLaunchHandsOverAndIsAcknowledged) {
  QTemporaryDir directory;
  SingleInstance first(directory.path(), QStringLiteral("test"));
  ASSERT_EQ(first.claim({kFiles, {}}), SingleInstance::Claim::first);
  ASSERT_TRUE(first.listen()) << first.problem().toStdString();
  EXPECT_EQ(QFileInfo(first.socketPath()).permissions() &
                (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
            QFile::Permissions{})
      << "the socket is for this user only";

  std::vector<HandOver> received;
  QObject::connect(&first, &SingleInstance::received,
                   [&](const HandOver& handOver) { received.push_back(handOver); });
  auto later = claimElsewhere(directory.path(), {kLinks, QStringLiteral("tok")});
  EXPECT_EQ(waitFor(later), SingleInstance::Claim::handedOver);
  spinUntil([&] { return !received.empty(); });
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].event.items, kLinks.items);
  EXPECT_EQ(received[0].activationToken, QStringLiteral("tok"));
}

TEST(SingleInstance, AnInstanceThatHasEndedTakesNothingAndTheLaterLaunchTakesItsPlace) {
  QTemporaryDir directory;
  auto first = std::make_unique<SingleInstance>(directory.path(), QStringLiteral("test"));
  ASSERT_EQ(first->claim({kFiles, {}}), SingleInstance::Claim::first);
  ASSERT_TRUE(first->listen());
  first->setAnswer([] { return SingleInstance::Answer::refuse; });
  int received = 0;
  QObject::connect(first.get(), &SingleInstance::received, [&] { ++received; });

  auto later = claimElsewhere(directory.path(), {kLinks, {}}, 10000);
  // Let the later launch be refused a few times, then end the first instance.
  spinUntil([] { return false; }, 300);
  first.reset();
  EXPECT_EQ(waitFor(later), SingleInstance::Claim::first);
  EXPECT_EQ(received, 0);
}

TEST(SingleInstance, WhileApplyingTheRunningInstanceAnswersBusyAndTakesNothing) {
  QTemporaryDir directory;
  SingleInstance first(directory.path(), QStringLiteral("test"));
  ASSERT_EQ(first.claim({kFiles, {}}), SingleInstance::Claim::first);
  ASSERT_TRUE(first.listen());
  first.setAnswer([] { return SingleInstance::Answer::busy; });
  int received = 0;
  QObject::connect(&first, &SingleInstance::received, [&] { ++received; });

  auto later = claimElsewhere(directory.path(), {kLinks, {}});
  EXPECT_EQ(waitFor(later), SingleInstance::Claim::busy);
  spinUntil([] { return false; }, 100);
  EXPECT_EQ(received, 0);
}

TEST(SingleInstance, LeftoverSocketFileIsReplaced) {
  QTemporaryDir directory;
  SingleInstance first(directory.path(), QStringLiteral("test"));
  QFile leftover(first.socketPath());
  ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
  leftover.close();
  ASSERT_EQ(first.claim({kFiles, {}}), SingleInstance::Claim::first);
  EXPECT_TRUE(first.listen()) << first.problem().toStdString();
  QLocalSocket probe;
  probe.connectToServer(first.socketPath());
  EXPECT_TRUE(probe.waitForConnected(1000));
}

TEST(SingleInstance, MalformedOrOversizedHandOversAreDroppedUnanswered) {
  QTemporaryDir directory;
  SingleInstance first(directory.path(), QStringLiteral("test"));
  ASSERT_EQ(first.claim({kFiles, {}}), SingleInstance::Claim::first);
  ASSERT_TRUE(first.listen());
  int received = 0;
  QObject::connect(&first, &SingleInstance::received, [&] { ++received; });

  QByteArray huge(4, '\0');
  qToBigEndian<quint32>(kMaxHandOverBytes + 1, huge.data());
  QByteArray garbage(4, '\0');
  qToBigEndian<quint32>(5, garbage.data());
  for (const QByteArray& bytes : {huge + QByteArray(64, 'x'), garbage + "hello"}) {
    QLocalSocket socket;
    socket.connectToServer(first.socketPath());
    ASSERT_TRUE(socket.waitForConnected(1000));
    socket.write(bytes);
    socket.flush();
    spinUntil([&] {
      return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(10);
    });
    EXPECT_EQ(socket.bytesAvailable(), 0) << "no acknowledgement";
  }
  EXPECT_EQ(received, 0);
}

}  // namespace
