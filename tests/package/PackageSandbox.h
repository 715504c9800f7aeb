#pragma once
// Shared by the package tests: the hostile corpus, made once per run, and a
// sandbox per test with its own temporary directory beside a canary that no
// package may touch.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "base/FreshDirectory.h"

/// Where the corpus lives: <root>/packages, with <root>/canary beside it.
struct Corpus {
  QString root;
  QString packages;
  QString canary;
};

/// Writes `bytes` to `path`, replacing it; fails the test when it cannot.
inline void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(file.write(bytes), bytes.size());
}

/// Builds the corpus with make_hostile_packages.py on first use.
inline const Corpus& corpus() {
  static QTemporaryDir root;
  static const Corpus made = [] {
    Corpus c{root.path(), root.filePath(QStringLiteral("packages")),
             root.filePath(QStringLiteral("canary"))};
    QDir().mkpath(c.canary + QStringLiteral("/nested"));
    writeBytes(c.canary + QStringLiteral("/keep.txt"), "canary\n");
    writeBytes(c.canary + QStringLiteral("/nested/keep.txt"), "nested canary\n");
    for (const char* script : {"make_hostile_packages.py", "make_image_packages.py"}) {
      QProcess python;
      python.setProcessChannelMode(QProcess::ForwardedChannels);
      python.start(
          QStringLiteral(VELMORA_PYTHON3),
          {QStringLiteral(VELMORA_TEST_SUPPORT_DIR "/") + QString::fromUtf8(script), c.packages});
      python.waitForFinished(-1);
      EXPECT_TRUE(python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0)
          << script << " failed";
    }
    return c;
  }();
  return made;
}

/// The path of one corpus package.
inline QString package(const QString& name) {
  return corpus().packages + u'/' + name;
}

/// Every item under `dir`, never following a link: relative path → "dir",
/// "link:<target>" or the file's contents (its size alone when `sizesOnly`).
inline QMap<QString, QByteArray> snapshot(const QString& dir, bool sizesOnly = false) {
  QMap<QString, QByteArray> items;
  QDirIterator it(dir, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString relative = QDir(dir).relativeFilePath(path);
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      items.insert(relative, "dir");
    } else if (S_ISLNK(info.st_mode)) {
      items.insert(relative, "link:" + QFile::encodeName(QFile::symLinkTarget(path)));
    } else if (sizesOnly) {
      items.insert(relative, QByteArray::number(qint64(info.st_size)));
    } else {
      QFile file(path);
      items.insert(relative, file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable");
    }
  }
  return items;
}

/// The bytes held by the regular files under `dir`, links not followed.
inline qint64 bytesUnder(const QString& dir) {
  qint64 total = 0;
  QDirIterator it(dir, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    struct stat info {};
    if (::lstat(QFile::encodeName(it.next()).constData(), &info) == 0 && S_ISREG(info.st_mode)) {
      total += info.st_size;
    }
  }
  return total;
}

/// A test with TMPDIR pointed at a fresh directory beside the canary. On
/// tear-down it checks that the canary and the corpus are as they were and
/// that nothing new appeared next to them.
class PackageSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    const Corpus& c = corpus();
    temp_ = c.root + QStringLiteral("/tmp-%1").arg(++counter);
    ASSERT_TRUE(QDir().mkpath(temp_));
    savedTmpdir_ = qgetenv("TMPDIR");
    hadTmpdir_ = qEnvironmentVariableIsSet("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp_));
    canaryBefore_ = snapshot(c.canary);
    corpusBefore_ = snapshot(c.packages, true);
  }

  void TearDown() override {
    if (hadTmpdir_) {
      qputenv("TMPDIR", savedTmpdir_);
    } else {
      qunsetenv("TMPDIR");
    }
    const Corpus& c = corpus();
    EXPECT_EQ(snapshot(c.canary), canaryBefore_) << "the canary was touched";
    EXPECT_EQ(snapshot(c.packages, true), corpusBefore_) << "the corpus was touched";
    const QStringList top = QDir(c.root).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                                   QDir::NoDotAndDotDot);
    for (const QString& name : top) {
      EXPECT_TRUE(name == QStringLiteral("packages") || name == QStringLiteral("canary") ||
                  name.startsWith(QStringLiteral("tmp-")))
          << "written outside the sandbox: " << name.toStdString();
    }
    removeTree(temp_);  // byte for byte: names need not be UTF-8
  }

  /// The directories that extraction made in this test's TMPDIR; each must
  /// be named by an upper-case UUID.
  QStringList extractionDirectories() const {
    static const QRegularExpression uuid(
        QStringLiteral("\\A[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\z"));
    QStringList found;
    for (const QString& name : QDir(temp_).entryList(QDir::AllEntries | QDir::System |
                                                     QDir::Hidden | QDir::NoDotAndDotDot)) {
      EXPECT_TRUE(uuid.match(name).hasMatch())
          << "unexpected item in TMPDIR: " << name.toStdString();
      found.append(temp_ + u'/' + name);
    }
    return found;
  }

  QString temp_;

 private:
  QByteArray savedTmpdir_;
  bool hadTmpdir_ = false;
  QMap<QString, QByteArray> canaryBefore_;
  QMap<QString, QByteArray> corpusBefore_;
};
