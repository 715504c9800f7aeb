// The confined reader from the helper's side: what it answers, how a
// thumbnail arrives, and that nothing it does outlasts the question.
#include "package/PackageThumbnail.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>

#include "base/HelperError.h"
#include "package/PackageReader.h"
#include "package/PackageSandbox.h"
#include "package/ReaderProtocol.h"

namespace {

const QString kReader = QStringLiteral(VELMORA_READER_PROGRAM);

struct Decoded {
  bool done = false;
  QByteArray pixels;
  QSize size;
  qint64 milliseconds = 0;
};

/// Asks `thumbnail` for `pixels` and turns the event loop until it answers.
Decoded decode(PackageThumbnail& thumbnail, QSize pixels) {
  Decoded result;
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  thumbnail.decode(pixels, [&](const QByteArray& argb32, QSize size) {
    result = {true, argb32, size, clock.elapsed()};
    loop.quit();
  });
  if (!result.done) loop.exec();
  return result;
}

class ReaderThumbnail : public PackageSandbox {};

TEST_F(ReaderThumbnail, ArrivesAsThePixelsAskedFor) {
  OpenedPackage opened = readPackage(package(QStringLiteral("picture.velmora")), kReader);
  ASSERT_TRUE(opened.thumbnail);
  const QSize logical = opened.thumbnail->size();
  EXPECT_EQ(logical, QSize(64, 32));
  const Decoded twice = decode(*opened.thumbnail, logical * 2);
  ASSERT_TRUE(twice.done);
  EXPECT_EQ(twice.size, logical * 2);
  EXPECT_EQ(twice.pixels.size(), qsizetype(twice.size.width()) * twice.size.height() * 4);
}

/// What the kernel says of this process's children that run `program`:
/// their /proc status and limits, one string each.
QStringList childrenRunning(const QString& program, const char* file) {
  QStringList found;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QFile command(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!status.open(QIODevice::ReadOnly) || !command.open(QIODevice::ReadOnly)) continue;
    const QByteArray said = status.readAll();
    if (!said.contains("\nPPid:\t" + QByteArray::number(::getpid()) + "\n") ||
        !command.readAll().startsWith(QFile::encodeName(program) + '\0')) {
      continue;
    }
    QFile wanted(QStringLiteral("/proc/%1/%2").arg(pid, QString::fromLatin1(file)));
    if (wanted.open(QIODevice::ReadOnly)) found.append(QString::fromLatin1(wanted.readAll()));
  }
  return found;
}

TEST_F(ReaderThumbnail, TheReaderRunsConfined) {
  OpenedPackage opened = readPackage(package(QStringLiteral("picture.velmora")), kReader);
  ASSERT_TRUE(opened.thumbnail);
  // Waiting to decode, after it has read the package: as confined as it was
  // when it began.
  const QStringList status = childrenRunning(kReader, "status");
  ASSERT_EQ(status.size(), 1);
  EXPECT_TRUE(status[0].contains(QRegularExpression("\\nNoNewPrivs:\\t1\\n")))
      << status[0].toStdString();
  EXPECT_TRUE(status[0].contains(QRegularExpression("\\nSeccomp:\\t2\\n")))
      << status[0].toStdString();
  const QString limits = childrenRunning(kReader, "limits").value(0);
#ifndef VELMORA_SANITIZED
  EXPECT_TRUE(limits.contains(QRegularExpression("Max address space +1073741824 +1073741824")))
      << limits.toStdString();
#endif
  EXPECT_TRUE(limits.contains(QRegularExpression("Max open files +64 +64")))
      << limits.toStdString();
  EXPECT_TRUE(limits.contains(QRegularExpression("Max core file size +0 +0")))
      << limits.toStdString();
  opened.thumbnail.reset();
  EXPECT_TRUE(childrenRunning(kReader, "status").isEmpty());
}

TEST_F(ReaderThumbnail, ABombGivesNoneWithinTheDeadlineAndLeavesNoReader) {
  struct Case {
    const char* package;
    qint64 atMostMs;  // a limit stops the memory bomb at once; the deadline the other
  } cases[] = {
#ifdef VELMORA_SANITIZED
      // No address-space limit under the sanitizers: the deadline stops both.
      {"memory-bomb.velmora", 4000},
#else
      {"memory-bomb.velmora", 1500},
#endif
      {"scan-bomb.velmora", 4000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    // Both are otherwise good packages, read as usual.
    OpenedPackage opened = readPackage(package(QString::fromUtf8(c.package)), kReader);
    EXPECT_EQ(opened.request.name, QStringLiteral("Bomb"));
    ASSERT_TRUE(opened.thumbnail);
    const Decoded result = decode(*opened.thumbnail, {160, 160});
    EXPECT_TRUE(result.done);
    EXPECT_TRUE(result.pixels.isEmpty());
    EXPECT_LE(result.milliseconds, c.atMostMs);
    discardPackage(opened.request);
  }
}

TEST_F(ReaderThumbnail, EndingItStopsADecodeAtOnce) {
  OpenedPackage opened = readPackage(package(QStringLiteral("scan-bomb.velmora")), kReader);
  ASSERT_TRUE(opened.thumbnail);
  bool called = false;
  opened.thumbnail->decode({160, 160}, [&](const QByteArray&, QSize) { called = true; });
  QElapsedTimer clock;
  clock.start();
  opened.thumbnail.reset();
  EXPECT_LT(clock.elapsed(), 500);
  EXPECT_FALSE(called);
  // Nothing writes there any more: the directory can go.
  discardPackage(opened.request);
  EXPECT_TRUE(extractionDirectories().isEmpty());
}

/// A stand-in reader that writes `answer` as its answer and ends; it lives
/// beside the sandbox's temporary directory.
QString fakeReader(const QByteArray& answer) {
  static int counter = 0;
  const QString directory = corpus().root + QStringLiteral("/tmp-reader-%1").arg(++counter);
  QDir().mkpath(directory);
  writeBytes(directory + QStringLiteral("/answer"), answer);
  const QString script = directory + QStringLiteral("/reader.sh");
  writeBytes(script, "#!/bin/sh\ncat \"$(dirname \"$0\")/answer\" >&3\n");
  ::chmod(script.toLocal8Bit().constData(), 0700);
  return script;
}

TEST_F(ReaderThumbnail, AnAnswerIsTrustedNoMoreThanThePackage) {
  ReaderAnswer good;
  good.outcome = ReaderAnswer::Outcome::request;
  good.request = {QStringLiteral("Aurora"), {}, "#aabbcc", "#e28a78", "#8a6cff"};
  good.imageName = QStringLiteral("bg.png");
  const auto with = [&](auto change) {
    ReaderAnswer answer = good;
    change(answer);
    return encodeAnswer(answer);
  };
  const QString unreadable = QStringLiteral("The skin package could not be read.");
  struct Case {
    const char* what;
    QByteArray answer;
    QString message;
  } cases[] = {
      {"nothing at all", {}, unreadable},
      {"not a frame", "hello", unreadable},
      {"a cut frame", encodeAnswer(good).chopped(3), unreadable},
      {"an image outside the directory", with([](auto& a) { a.imageName = "../../x.png"; }),
       unreadable},
      {"a colour no package may give", with([](auto& a) { a.request.accent = "red"; }), unreadable},
      {"a name no package may give", with([](auto& a) { a.request.name = "  Aurora\n"; }),
       unreadable},
      {"a refusal, as it stands", with([](auto& a) {
         a.outcome = ReaderAnswer::Outcome::invalidRequest;
         a.message = "The skin package contains an unsafe path.";
       }),
       QStringLiteral("The skin package contains an unsafe path.")},
      {"a well-formed request whose image is not there", encodeAnswer(good),
       QStringLiteral("bg.png: No such file or directory")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      readPackage(package(QStringLiteral("good.velmora")), fakeReader(c.answer));
      ADD_FAILURE() << "accepted";
    } catch (const Failure& error) {
      EXPECT_EQ(error.localizedDescription(), c.message);
    }
    EXPECT_TRUE(extractionDirectories().isEmpty());
  }
}

TEST(ReaderProtocol, AnswersAndThumbnailFramesRoundTripAndAreBounded) {
  ReaderAnswer answer;
  answer.outcome = ReaderAnswer::Outcome::request;
  answer.request = {QStringLiteral("Café \u2603"), {}, "#aabbcc", "#e28a78", "#8a6cff"};
  answer.imageName = QStringLiteral("écran.png");
  answer.thumbnailSize = {160, 90};
  const QByteArray frame = encodeAnswer(answer);
  EXPECT_EQ(decodeAnswer(frame.mid(8)), answer);
  answer.thumbnailSize = {161, 90};  // larger than a thumbnail is: none
  EXPECT_EQ(decodeAnswer(encodeAnswer(answer).mid(8))->thumbnailSize, QSize());

  EXPECT_EQ(decodeThumbnailRequest(encodeThumbnailRequest({320, 180})), QSize(320, 180));
  EXPECT_EQ(decodeThumbnailRequest(encodeThumbnailRequest({0, 180})), std::nullopt);
  EXPECT_EQ(decodeThumbnailRequest(encodeThumbnailRequest({100000, 1})), std::nullopt);

  ThumbnailFrame more;  // more pixels than were asked for
  EXPECT_FALSE(more.take(encodeThumbnail({20, 20}, QByteArray(20 * 20 * 4, 'x')), {10, 10}));
  ThumbnailFrame none;
  EXPECT_TRUE(none.take(encodeThumbnail({10, 10}, "short"), {10, 10}));
  EXPECT_TRUE(none.complete());
  EXPECT_TRUE(none.size().isEmpty());
  ThumbnailFrame pieces;
  const QByteArray whole = encodeThumbnail({2, 1}, QByteArray(8, 'p'));
  EXPECT_TRUE(pieces.take(whole.left(5), {2, 2}));
  EXPECT_FALSE(pieces.complete());
  EXPECT_TRUE(pieces.take(whole.mid(5), {2, 2}));
  EXPECT_TRUE(pieces.complete());
  EXPECT_EQ(pieces.pixels(), QByteArray(8, 'p'));
  EXPECT_FALSE(pieces.take("extra", {2, 2}));
}

}  // namespace
