#include "package/ZipExtractor.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <string>

#include "base/HelperError.h"
#include "package/PackageSandbox.h"
#include "package/PackageVetting.h"
#include "support/Expect.h"

namespace {

TEST(EntryPath, SplitsSafeNamesAndRefusesTheRest) {
  using Parts = QList<QByteArray>;
  struct Case {
    QByteArray name;
    std::optional<Parts> parts;
  } cases[] = {
      {"theme.json", Parts{"theme.json"}},
      {"images/bg.png", Parts{"images", "bg.png"}},
      {"./a//b/./c/", Parts{"a", "b", "c"}},
      {"./", Parts{}},
      {"a..b/...", Parts{"a..b", "..."}},
      {"caf\xc3\xa9.png", Parts{"caf\xc3\xa9.png"}},
      {"", std::nullopt},
      {"/etc/passwd", std::nullopt},
      {"..", std::nullopt},
      {"a/../b", std::nullopt},
      {"a/..", std::nullopt},
      {"..\\x", std::nullopt},
      {"a\\b", std::nullopt},
      {QByteArray("a\0b", 3), std::nullopt},
      {"bell\x07", std::nullopt},
      {"line\nfeed", std::nullopt},
      {"del\x7f", std::nullopt},
      {"c1\xc2\x85next", std::nullopt},
      {"c1\xc2\x9f", std::nullopt},
      {"nbsp\xc2\xa0ok", Parts{"nbsp\xc2\xa0ok"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(entryPathComponents(c.name), c.parts) << c.name.toStdString();
  }
}

const QString kExtractFailed = QStringLiteral("The skin package could not be extracted: ");

/// Extracts one corpus package straight into <sandbox>/x, bypassing the
/// inspection, so the extractor's own rules are what stand in the way.
class Extractor : public PackageSandbox {
 protected:
  void SetUp() override {
    PackageSandbox::SetUp();
    target_ = temp_ + QStringLiteral("/x");
    ASSERT_TRUE(QDir().mkpath(target_));
  }

  // The text of the extractor's failure, or "" when it succeeded.
  QString extract(const QString& name) {
    try {
      extractZip(package(name), target_);
      return QString();
    } catch (const HelperError& error) {
      EXPECT_EQ(error.errorCase(), HelperError::Case::processFailed);
      return error.localizedDescription();
    }
  }

  bool isLink(const QString& relative) const {
    struct stat info {};
    return ::lstat(QFile::encodeName(target_ + u'/' + relative).constData(), &info) == 0 &&
           S_ISLNK(info.st_mode);
  }

  QString target_;
};

TEST_F(Extractor, WritesEntriesAtTheirRelativePaths) {
  EXPECT_EQ(extract(QStringLiteral("twelve-entries.velmora")), QString());
  const auto items = snapshot(target_);
  EXPECT_EQ(items.size(), 12);
  EXPECT_EQ(items.value(QStringLiteral("theme.json")),
            QByteArray(R"({"schemaVersion": 1, "image": "bg.png", "name": "Hostile"})"));
  EXPECT_EQ(items.value(QStringLiteral("extra09.txt")), QByteArray("x"));
  EXPECT_EQ(items.value(QStringLiteral("bg.png")).size(), 8 + 1024);
}

// The cases that inspection stops first; what gets past it is run through
// readPackage in PackageReader_test.
TEST_F(Extractor, RefusesWhatInspectionWouldHaveStopped) {
  struct Case {
    const char* package;
    const char* reason;
  } cases[] = {
      {"slip-dotdot.velmora", "an entry has an unsafe path."},
      {"slip-absolute.velmora", "an entry has an unsafe path."},
      {"slip-backslash.velmora", "an entry has an unsafe path."},
      {"thirteen-entries.velmora", "the package holds too many entries."},
      // libarchive's own words for damage it finds itself.
      {"not-a-zip.velmora", "Unrecognized archive format."},
      {"truncated.velmora", "ZIP decompression failed (-5)."},
      {"declared-total.velmora",
       "ZIP uncompressed data is wrong size (read 5, expected 62913471)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    const QString dir = target_;
    EXPECT_EQ(extract(QString::fromUtf8(c.package)), kExtractFailed + QString::fromUtf8(c.reason));
    // Only the extraction directory was written (the sandbox checks the
    // canary); start the next case from an empty one.
    EXPECT_EQ(QDir(temp_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("x")});
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
  }
}

// Each limit at its value and one past it; nothing past one is created.
TEST_F(Extractor, DepthLengthAndDirectoryCountLimits) {
  const QString tooDeep =
      kExtractFailed + QStringLiteral("an entry's path is too deep or too long.");
  struct Case {
    const char* package;
    QString message;
  } cases[] = {
      {"depth-16.velmora", QString()},
      {"depth-17.velmora", tooDeep},
      {"path-1024.velmora", QString()},
      {"path-1025.velmora", tooDeep},
      {"component-255.velmora", QString()},
      {"component-256.velmora", tooDeep},
      {"dir-bomb.velmora", tooDeep},
      {"dirs-64.velmora", QString()},
      {"dirs-65.velmora",
       kExtractFailed + QStringLiteral("the package creates too many directories.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    EXPECT_EQ(extract(QString::fromUtf8(c.package)), c.message);
    const auto items = snapshot(target_);
    EXPECT_LE(std::count(items.cbegin(), items.cend(), QByteArray("dir")),
              kMaxExtractedDirectories);
    for (auto item = items.cbegin(); item != items.cend(); ++item) {
      EXPECT_LE(item.key().count(u'/') + 1, kMaxEntryPathComponents);
      EXPECT_LE(QFile::encodeName(item.key()).size(), kMaxEntryPathBytes);
    }
    QDir(target_).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(target_));
  }
}

// Names are read as UTF-8 whatever the locale; under "C" a UTF-8 name used
// to be lost.
TEST_F(Extractor, UnicodeNamesUnderTheCLocale) {
  const std::string saved = ::setlocale(LC_ALL, nullptr);
  ::setlocale(LC_ALL, "C");
  const QString failure = extract(QStringLiteral("streamed-unicode.velmora"));
  ::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(failure, QString());
  EXPECT_TRUE(QFile::exists(target_ + QStringLiteral("/caf\u00e9.png")));
}

TEST_F(Extractor, LyingSizesNeverWriteMoreThanDeclared) {
  EXPECT_EQ(extract(QStringLiteral("lying-deflated.velmora")),
            kExtractFailed + QStringLiteral("an entry is larger than it declares."));
  EXPECT_LE(QFileInfo(target_ + QStringLiteral("/bomb.bin")).size(), 1000);
  QDir(target_).removeRecursively();
  ASSERT_TRUE(QDir().mkpath(target_));
  EXPECT_EQ(extract(QStringLiteral("lying-stored.velmora")),
            kExtractFailed + QStringLiteral("an entry is larger than it declares."));
  EXPECT_LE(QFileInfo(target_ + QStringLiteral("/bomb.bin")).size(), 10);
}

TEST_F(Extractor, RealDataPastTheLimitStopsAtTheLimit) {
  EXPECT_EQ(extract(QStringLiteral("expands-past-limit.velmora")),
            kExtractFailed + QStringLiteral("the package expands beyond the safety limit."));
  const qint64 written = bytesUnder(target_);
  EXPECT_LE(written, kMaxExpandedBytes);
  // The first half went out whole: the cap, not an early failure, stopped it.
  EXPECT_GE(written, qint64(32) << 20);
}

TEST_F(Extractor, OverlappingEntriesStayWithinTheCap) {
  EXPECT_EQ(extract(QStringLiteral("overlapping.velmora")), QString());
  EXPECT_LE(bytesUnder(target_), kMaxExpandedBytes);
}

TEST_F(Extractor, SymbolicLinksAreMadeButNeverFollowed) {
  EXPECT_EQ(extract(QStringLiteral("link-manifest.velmora")), QString());
  ASSERT_TRUE(isLink(QStringLiteral("theme.json")));
  EXPECT_EQ(QFile::symLinkTarget(target_ + QStringLiteral("/theme.json")),
            QStringLiteral("/etc/passwd"));

  QDir(target_).removeRecursively();
  ASSERT_TRUE(QDir().mkpath(target_));
  extract(QStringLiteral("link-parent.velmora"));
  EXPECT_TRUE(isLink(QStringLiteral("sub")));
  EXPECT_FALSE(QFile::exists(temp_ + QStringLiteral("/up.txt")));
}

TEST_F(Extractor, FifoEntriesBecomeNothingButPlainFiles) {
  EXPECT_EQ(extract(QStringLiteral("fifo.velmora")), QString());
  struct stat info {};
  ASSERT_EQ(::lstat(QFile::encodeName(target_ + QStringLiteral("/pipe")).constData(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(Extractor, EmptyArchiveWritesNothing) {
  EXPECT_EQ(extract(QStringLiteral("empty.velmora")), QString());
  EXPECT_TRUE(snapshot(target_).isEmpty());
}

TEST_F(Extractor, TheTargetItselfIsNeverALink) {
  const QString link = temp_ + QStringLiteral("/via-link");
  ASSERT_TRUE(QFile::link(corpus().canary, link));
  try {
    extractZip(package(QStringLiteral("good.velmora")), link);
    ADD_FAILURE() << "extracted through a link";
  } catch (const HelperError& error) {
    EXPECT_TRUE(error.localizedDescription().startsWith(kExtractFailed));
  }
}

// Archives found by fuzzing the extractor (tests/fuzz), kept as regression
// cases: each is the minimised input, byte for byte.

TEST(ExtractorFindings, AnEntryWhoseBodyEndsBeforeItsDeclaredSizeIsRefused) {
  // One local header and nothing else: deflated, CRC 0, compressed size 0,
  // declared size 39, name "ht". Read from its local header alone, its body
  // ends at once with a matching CRC, and an empty "ht" used to be left
  // behind as if it had been extracted whole.
  const QByteArray archive(
      "PK\x03\x04\x14\x00\x00\x00\x08\x00\x00\x04\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x27\x00\x00\x01\x02\x00\x00\x00htPK\x01\x02",
      36);
  QTemporaryDir sandbox;
  ASSERT_TRUE(sandbox.isValid());
  const QString path = sandbox.filePath(QStringLiteral("short.velmora"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(archive), archive.size());
  file.close();
  const QString target = sandbox.filePath(QStringLiteral("x"));
  ASSERT_TRUE(QDir().mkdir(target));

  EXPECT_FAILURE_TEXT(
      extractZip(path, target),
      QStringLiteral(
          "The skin package could not be extracted: an entry is shorter than it declares."));
}

}  // namespace
