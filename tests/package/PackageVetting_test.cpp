#include "package/PackageVetting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include "base/HelperError.h"
#include "base/PathBytes.h"
#include "package/PackageSandbox.h"
#include "package/ZipExtractor.h"
#include "support/Expect.h"

namespace {

const QString kExpands = QStringLiteral("The skin package expands beyond the safety limit.");
const QString kCount = QStringLiteral("The skin package contains an unexpected number of files.");
const QString kUnsafe = QStringLiteral("The skin package contains an unsafe path.");

TEST(TotalsLine, ParsesTheFirstMatchAsSigned64BitNumbers) {
  struct Case {
    const char* text;
    std::optional<ArchiveTotals> expected;
  } cases[] = {
      {"2 files, 1008 bytes uncompressed, 1008 bytes compressed:  0.0%\n", ArchiveTotals{2, 1008}},
      {"1 file, 0 bytes uncompressed, 0 bytes compressed:  0.0%", ArchiveTotals{1, 0}},
      {"warning: junk\n12 files, 62914560 bytes uncompressed\n3 files, 1 bytes uncompressed",
       ArchiveTotals{12, 62914560}},
      {"9223372036854775807 files, 9223372036854775807 bytes uncompressed",
       ArchiveTotals{9223372036854775807, 9223372036854775807}},
      {"9223372036854775808 files, 1 bytes uncompressed", std::nullopt},
      {"1 files, 99999999999999999999 bytes uncompressed", std::nullopt},
      {"Empty zipfile.", std::nullopt},
      {"", std::nullopt},
      {"2 files, 1008 bytes compressed", std::nullopt},
      {"2 files,  1008 bytes uncompressed", std::nullopt},
      {"\xd9\xa3 files, 5 bytes uncompressed", std::nullopt},  // Arabic-Indic digit three
  };
  for (const Case& c : cases) {
    const std::optional<ArchiveTotals> got = parseTotalsLine(QString::fromUtf8(c.text));
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.text;
    if (got) {
      EXPECT_EQ(got->entries, c.expected->entries) << c.text;
      EXPECT_EQ(got->uncompressedBytes, c.expected->uncompressedBytes) << c.text;
    }
  }
}

TEST(TotalsLine, LimitsEntriesAndDeclaredSize) {
  struct Case {
    const char* text;
    bool accepted;
  } cases[] = {
      {"1 file, 0 bytes uncompressed", true},
      {"12 files, 62914560 bytes uncompressed", true},
      {"0 files, 0 bytes uncompressed", false},
      {"13 files, 100 bytes uncompressed", false},
      {"2 files, 62914561 bytes uncompressed", false},
      {"2 files, 99999999999999999999 bytes uncompressed", false},
      {"Archive: x\nnothing useful", false},
  };
  for (const Case& c : cases) {
    if (c.accepted) {
      EXPECT_NO_THROW(checkTotals(QString::fromUtf8(c.text))) << c.text;
    } else {
      EXPECT_FAILURE_TEXT(checkTotals(QString::fromUtf8(c.text)), kExpands);
    }
  }
}

TEST(Listing, KeepsNonEmptyLinesExactlyAsPrinted) {
  EXPECT_EQ(parseListing(QStringLiteral("theme.json\nbg.png\n")),
            QStringList({QStringLiteral("theme.json"), QStringLiteral("bg.png")}));
  EXPECT_EQ(parseListing(QStringLiteral("\n\n a \n\nb\r\n")),
            QStringList({QStringLiteral(" a "), QStringLiteral("b\r")}));
  EXPECT_TRUE(parseListing(QStringLiteral("\n\n")).isEmpty());
}

TEST(Listing, PathSafety) {
  const char* unsafe[] = {"/theme.json",   "..",  "../x", "a/../b", "a/..",
                          "skins\\bg.png", "\\x", "//x",  "a//../b"};
  const char* safe[] = {"theme.json", "images/", "./theme.json", "a..b",  "a..b/x", "dir//x",
                        "...",        ".../x",   "..a",          "a/..b", "a b/c"};
  for (const char* name : unsafe) EXPECT_FALSE(isSafeListedName(QString::fromUtf8(name))) << name;
  for (const char* name : safe) EXPECT_TRUE(isSafeListedName(QString::fromUtf8(name))) << name;
}

TEST(Listing, CountsNamesThenChecksEachInOrder) {
  QString twelve;
  for (int i = 0; i < 12; ++i) twelve += QStringLiteral("f%1\n").arg(i);
  EXPECT_NO_THROW(checkListing(twelve));
  EXPECT_FAILURE_TEXT(checkListing(twelve + QStringLiteral("extra\n")), kCount);
  EXPECT_FAILURE_TEXT(checkListing(QStringLiteral("\n\n")), kCount);
  // The count is judged before any name: 13 names with an unsafe one.
  EXPECT_FAILURE_TEXT(checkListing(twelve + QStringLiteral("../x\n")), kCount);
  EXPECT_FAILURE_TEXT(checkListing(QStringLiteral("theme.json\n\na/../b\n")), kUnsafe);
}

class Inspection : public PackageSandbox {};

TEST_F(Inspection, ExtensionComesFirstAndIgnoresCase) {
  // Names that do not end in .velmora are refused before the file is looked at.
  for (const char* name : {"skin.velmora.zip", "skin", "skin.zip", "skin.velmora ", "velmora"}) {
    EXPECT_FAILURE_TEXT(inspectPackage(temp_ + u'/' + QString::fromUtf8(name)),
                        QStringLiteral("Choose a .velmora package."));
  }
  const QString upper = temp_ + QStringLiteral("/Skin.VELMORA");
  ASSERT_TRUE(QFile::copy(package(QStringLiteral("good.velmora")), upper));
  EXPECT_NO_THROW(inspectPackage(upper));
}

TEST_F(Inspection, PackageSizeBounds) {
  const QString empty = temp_ + QStringLiteral("/empty.velmora");
  writeBytes(empty, QByteArray());
  EXPECT_FAILURE_TEXT(inspectPackage(empty),
                      QStringLiteral("The skin package is empty or too large."));
  EXPECT_FAILURE_TEXT(inspectPackage(package(QStringLiteral("oversize.velmora"))),
                      QStringLiteral("The skin package is empty or too large."));
  EXPECT_NO_THROW(inspectPackage(package(QStringLiteral("exact-size.velmora"))));
  // Nothing but a regular file, reached by its name or through one link, is
  // a package: not a directory, a FIFO (refused at once, never waited on), a
  // link to either, or a chain of links.
  const QString folder = temp_ + QStringLiteral("/folder.velmora");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString fifo = temp_ + QStringLiteral("/fifo.velmora");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const auto link = [&](const QString& name, const QString& target) {
    const QString path = temp_ + u'/' + name;
    EXPECT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()),
              0);
    return path;
  };
  const QString good =
      link(QStringLiteral("link.velmora"), package(QStringLiteral("good.velmora")));
  QFile::copy(package(QStringLiteral("good.velmora")), temp_ + QStringLiteral("/near.velmora"));
  for (const QString& path :
       {good, link(QStringLiteral("relative.velmora"), QStringLiteral("near.velmora"))}) {
    EXPECT_NO_THROW(inspectPackage(path)) << path.toStdString();
  }
  for (const QString& path : {folder, fifo, link(QStringLiteral("to-folder.velmora"), folder),
                              link(QStringLiteral("to-fifo.velmora"), fifo),
                              link(QStringLiteral("chain.velmora"), good)}) {
    EXPECT_FAILURE_TEXT(inspectPackage(path),
                        QStringLiteral("The skin package is empty or too large."));
  }
}

// A file name need not be UTF-8 (a file manager passes its bytes as they are).
TEST_F(Inspection, APathThatIsNotUtf8IsOpenedByItsBytes) {
  const QByteArray bytes = QFile::encodeName(temp_) + "/caf\xe9.velmora";
  ASSERT_EQ(::link(QFile::encodeName(package(QStringLiteral("good.velmora"))).constData(),
                   bytes.constData()),
            0);
  EXPECT_NO_THROW(inspectPackage(pathFromBytes(bytes)));
}

// The listing is read as UTF-8 whatever the helper's locale, and a name
// that is not UTF-8 stays one name.
TEST_F(Inspection, ListedNamesWhateverTheLocale) {
  const bool wasSet = qEnvironmentVariableIsSet("LC_ALL");
  const QByteArray saved = qgetenv("LC_ALL");
  qputenv("LC_ALL", "C");
  const QStringList marked = inspectPackage(package(QStringLiteral("bsdtar.velmora"))).names;
  const QStringList latin1 =
      inspectPackage(package(QStringLiteral("infozip-latin1.velmora"))).names;
  wasSet ? qputenv("LC_ALL", saved) : qunsetenv("LC_ALL");
  EXPECT_TRUE(marked.contains(QStringLiteral("images/fa\u00e7ade.png")))
      << marked.join(u'|').toStdString();
  EXPECT_EQ(latin1, QStringList({QStringLiteral("bg.png"), QStringLiteral("caf\uFFFD.txt"),
                                 QStringLiteral("theme.json")}));
}

// Everything after the open reads the file that was opened: a package
// replaced by another under its path afterwards changes nothing.
TEST_F(Inspection, WhatIsExtractedIsTheFileThatWasInspected) {
  const QString path = temp_ + QStringLiteral("/swapped.velmora");
  ASSERT_TRUE(QFile::copy(package(QStringLiteral("good.velmora")), path));
  const InspectedPackage inspected = inspectPackage(path);
  const QString replacement = temp_ + QStringLiteral("/replacement");
  ASSERT_TRUE(QFile::copy(package(QStringLiteral("dir-bomb-local.velmora")), replacement));
  ASSERT_EQ(
      ::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(path).constData()), 0);

  const QString target = temp_ + QStringLiteral("/x");
  ASSERT_TRUE(QDir().mkpath(target));
  extractZip(inspected.file.get(), target, inspected.names);
  EXPECT_EQ(QDir(target).entryList(QDir::Files, QDir::Name),
            QStringList({QStringLiteral("bg.png"), QStringLiteral("theme.json")}));
}

TEST_F(Inspection, MissingPackageIsThePlatformsError) {
  const QString missing = temp_ + QStringLiteral("/missing.velmora");
  try {
    inspectPackage(missing);
    ADD_FAILURE() << "no failure";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.localizedDescription(),
              missing + QStringLiteral(": No such file or directory"));
  }
}

// unzip -Z never asks for a password, so an encrypted archive is inspected
// like any other; the extractor refuses it later.
TEST_F(Inspection, EncryptedArchivesAreListedWithoutAPrompt) {
  EXPECT_NO_THROW(inspectPackage(package(QStringLiteral("encrypted-zip.velmora"))));
}

}  // namespace
