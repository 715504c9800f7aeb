#include "package/PackageReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "base/FreshDirectory.h"
#include "base/HelperError.h"
#include "package/PackageSandbox.h"
#include "package/PackageVetting.h"

namespace {

const QString kExtractFailed = QStringLiteral("The skin package could not be extracted: ");

// What unzip says about a file without a zip directory, naming the operand.
QString notAZipText(const QString& path) {
  return QStringLiteral(
             "[%1]\n"
             "  End-of-central-directory signature not found.  Either this file is not\n"
             "  a zipfile, or it constitutes one disk of a multi-part archive.  In the\n"
             "  latter case the central directory and zipfile comment will be found on\n"
             "  the last disk(s) of this archive.\n"
             "zipinfo:  cannot find zipfile directory in one of %1 or\n"
             "          %1.zip, and cannot find %1.ZIP, period.")
      .arg(path);
}

class ReadPackage : public PackageSandbox {
 protected:
  // Reads one corpus package; returns the failure's text or "" on success.
  QString read(const QString& name) {
    try {
      request_ = readPackage(package(name), QStringLiteral(VELMORA_READER_PROGRAM)).request;
      return QString();
    } catch (const Failure& error) {
      return error.localizedDescription();
    }
  }

  SkinRequest request_;
};

TEST_F(ReadPackage, ExtractsIntoAFreshUuidDirectoryAndPointsAtTheImage) {
  ASSERT_EQ(read(QStringLiteral("good.velmora")), QString());
  const QStringList made = extractionDirectories();
  ASSERT_EQ(made.size(), 1);
  EXPECT_EQ(request_, (SkinRequest{QStringLiteral("Hostile"),
                                   QUrl::fromLocalFile(made.first() + QStringLiteral("/bg.png")),
                                   QStringLiteral("#c5533a"), QStringLiteral("#e28a78"),
                                   QStringLiteral("#8a6cff")}));
  EXPECT_EQ(QFileInfo(made.first()).permissions() & (QFile::ReadOther | QFile::ExeOther),
            QFile::Permissions());
  // Each read makes its own directory and removes none.
  ASSERT_EQ(read(QStringLiteral("good.velmora")), QString());
  EXPECT_EQ(extractionDirectories().size(), 2);
}

TEST_F(ReadPackage, HostileCorpus) {
  struct Case {
    const char* package;
    QString message;  // "" for a package that is read
  } cases[] = {
      {"twelve-entries.velmora", QString()},
      {"exact-size.velmora", QString()},
      {"fifo.velmora", QString()},
      {"infozip-latin1.velmora", QString()},
      {"fat-codepage.velmora", QString()},
      {"bsdtar.velmora", QString()},
      {"no-manifest.velmora", QStringLiteral("The skin package has no theme.json.")},
      {"oversize.velmora", QStringLiteral("The skin package is empty or too large.")},
      {"thirteen-entries.velmora",
       QStringLiteral("The skin package expands beyond the safety limit.")},
      {"declared-total.velmora",
       QStringLiteral("The skin package expands beyond the safety limit.")},
      {"expands-past-limit.velmora",
       QStringLiteral("The skin package expands beyond the safety limit.")},
      {"slip-dotdot.velmora", QStringLiteral("The skin package contains an unsafe path.")},
      {"slip-absolute.velmora", QStringLiteral("The skin package contains an unsafe path.")},
      {"slip-backslash.velmora", QStringLiteral("The skin package contains an unsafe path.")},
      {"nul-name.velmora", QStringLiteral("The skin package contains an unsafe path.")},
      {"nul-local-name.velmora", QStringLiteral("The skin package contains an unsafe path.")},
      {"empty.velmora", QStringLiteral("Empty zipfile.")},
      {"not-a-zip.velmora", notAZipText(package(QStringLiteral("not-a-zip.velmora")))},
      {"truncated.velmora", notAZipText(package(QStringLiteral("truncated.velmora")))},
      // Past the listing: the extractor's and the manifest's own refusals.
      {"slip-local-name.velmora", kExtractFailed + QStringLiteral("an entry has an unsafe path.")},
      {"control-name.velmora", kExtractFailed + QStringLiteral("an entry has an unsafe path.")},
      {"empty-name.velmora", kExtractFailed + QStringLiteral("an entry has an unsafe path.")},
      {"link-dir.velmora",
       kExtractFailed + QStringLiteral("an entry lies behind a symbolic link.")},
      {"link-parent.velmora",
       kExtractFailed + QStringLiteral("an entry lies behind a symbolic link.")},
      {"link-manifest.velmora", QStringLiteral("theme.json is missing or invalid.")},
      {"link-image.velmora", QStringLiteral("The skin image is missing or too large.")},
      {"device.velmora",
       kExtractFailed + QStringLiteral("an entry is not a file, a directory or a symbolic link.")},
      {"lying-deflated.velmora",
       kExtractFailed + QStringLiteral("an entry is larger than it declares.")},
      {"lying-stored.velmora",
       kExtractFailed + QStringLiteral("an entry is larger than it declares.")},
      {"encrypted-flag.velmora", kExtractFailed + QStringLiteral("an entry is encrypted.")},
      {"encrypted-zip.velmora", kExtractFailed + QStringLiteral("an entry is encrypted.")},
      {"duplicate.velmora", kExtractFailed + QStringLiteral("two entries have conflicting paths.")},
      // What the extractor reads under another name than the listing shows,
      // or not at all (entries sharing their data).
      {"dir-bomb-local.velmora",
       kExtractFailed + QStringLiteral("an entry differs from the archive's directory.")},
      {"unicode-path-local.velmora",
       kExtractFailed + QStringLiteral("an entry differs from the archive's directory.")},
      {"overlapping.velmora",
       kExtractFailed + QStringLiteral("an entry differs from the archive's directory.")},
      {"dir-bomb.velmora",
       kExtractFailed + QStringLiteral("an entry's path is too deep or too long.")},
      {"file-then-dir.velmora",
       kExtractFailed + QStringLiteral("two entries have conflicting paths.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    EXPECT_EQ(read(QString::fromUtf8(c.package)), c.message);
    if (c.message.isEmpty()) {
      EXPECT_EQ(request_.name, QStringLiteral("Hostile"));
    }
    // Everything written is inside extraction directories (the sandbox
    // checks the canary) and within the cap; a refused package leaves none.
    const QStringList made = extractionDirectories();
    EXPECT_EQ(made.size(), c.message.isEmpty() ? 1 : 0);
    for (const QString& dir : made) {
      EXPECT_LE(bytesUnder(dir), kMaxExpandedBytes);
      removeTree(dir);
    }
  }
}

TEST_F(ReadPackage, StreamedEntriesDirectoriesAndUnicodeNames) {
  ASSERT_EQ(read(QStringLiteral("streamed-unicode.velmora")), QString());
  const QStringList made = extractionDirectories();
  ASSERT_EQ(made.size(), 1);
  EXPECT_EQ(request_.name, QStringLiteral("Caf\u00e9"));
  EXPECT_EQ(request_.image, QUrl::fromLocalFile(made.first() + QStringLiteral("/caf\u00e9.png")));
  EXPECT_EQ(QFileInfo(request_.image.toLocalFile()).size(), 8 + 1024);
  EXPECT_EQ(QFileInfo(made.first() + QStringLiteral("/images/extra.png")).size(), 8 + 1024);
}

// Packages as Finder, Explorer and Python (on Windows, or zipping a
// folder) make them: the image named by the manifest is found under the name
// it was written as, or the refusal says what to do.
TEST_F(ReadPackage, PackagesAsOtherSystemsMakeThem) {
  const QString inAurora = QStringLiteral(
      "theme.json is not at the top of the package; it is in Aurora/. Zip the skin's files, not "
      "their folder.");
  struct Case {
    const char* package;
    QString image;  // as written in the extraction directory; "" for a refusal
    QString message;
  } cases[] = {
      {"finder-nfd.velmora", QStringLiteral("e\u0301cran.png"), QString()},
      {"explorer-cp437.velmora", QStringLiteral("Hintergrund-gr\u00fcn.png"), QString()},
      {"explorer-case.velmora", QStringLiteral("Background.png"), QString()},
      {"python-windows-utf8.velmora", QStringLiteral("caf\u00e9.png"), QString()},
      {"finder-folder.velmora", QString(), inAurora},
      {"python-folder.velmora", QString(), inAurora},
      {"finder-no-manifest.velmora", QString(),
       QStringLiteral("The skin package has no theme.json.")},
      {"explorer-two-cases.velmora", QString(),
       QStringLiteral("background.png: No such file or directory")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    EXPECT_EQ(read(QString::fromUtf8(c.package)), c.message);
    const QStringList made = extractionDirectories();
    if (c.message.isEmpty()) {
      ASSERT_EQ(made.size(), 1);
      EXPECT_EQ(request_.name, QStringLiteral("World"));
      EXPECT_EQ(request_.image, QUrl::fromLocalFile(made.first() + u'/' + c.image));
      EXPECT_EQ(QFileInfo(request_.image.toLocalFile()).size(), 8 + 1024);
    }
    for (const QString& dir : made) removeTree(dir);
  }
}

// A name that is not UTF-8 is read as code page 437, the zip format's own
// encoding for names without the UTF-8 flag, whatever system made it.
TEST_F(ReadPackage, ANameThatIsNotUtf8IsReadAsCodePage437) {
  struct Case {
    const char* package;
    QString written;
  } cases[] = {
      {"infozip-latin1.velmora", QStringLiteral("caf\u0398.txt")},  // 0xE9
      {"fat-codepage.velmora", QStringLiteral("caf\u00e9.txt")},    // 0x82
  };
  for (const Case& c : cases) {
    ASSERT_EQ(read(QString::fromUtf8(c.package)), QString()) << c.package;
    const QString dir = extractionDirectories().value(0);
    EXPECT_TRUE(QFileInfo::exists(dir + u'/' + c.written)) << c.package;
    removeTree(dir);
  }
}

TEST_F(ReadPackage, RefusalsBeforeExtractionWriteNothing) {
  for (const char* name : {"oversize.velmora", "thirteen-entries.velmora", "slip-dotdot.velmora",
                           "not-a-zip.velmora", "expands-past-limit.velmora"}) {
    EXPECT_NE(read(QString::fromUtf8(name)), QString()) << name;
    EXPECT_TRUE(extractionDirectories().isEmpty()) << name;
  }
}

TEST_F(ReadPackage, WildcardNamesReadTheNamedPackageNotTheDecoy) {
  for (const char* name :
       {"wild-0/Aurora [v2].velmora", "wild-1/Star*.velmora", "wild-2/Why?.velmora",
        "wild-3/Back\\slash[x].velmora", "wild-4/Close]bracket[1].velmora"}) {
    EXPECT_EQ(read(QString::fromUtf8(name)), QString()) << name;
    EXPECT_EQ(request_.name, QStringLiteral("Hostile")) << name;
  }
  for (const QString& dir : extractionDirectories()) {
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/decoy00.txt")));
  }
}

TEST_F(ReadPackage, TheTemporaryDirectoryIsCreatedWhenMissing) {
  const QString nested = temp_ + QStringLiteral("/not/yet");
  qputenv("TMPDIR", QFile::encodeName(nested));
  ASSERT_EQ(read(QStringLiteral("good.velmora")), QString());
  EXPECT_TRUE(request_.image.toLocalFile().startsWith(nested + u'/'));
  EXPECT_TRUE(QFile::exists(request_.image.toLocalFile()));
}

}  // namespace

namespace {

TEST_F(ReadPackage, APackageReadAheadSaysItsRefusalWhenTakenUpAndLeavesNothingWhenNot) {
  {
    PendingPackage unused(package(QStringLiteral("good.velmora")));
    EXPECT_EQ(unused.path(), package(QStringLiteral("good.velmora")));
  }
  EXPECT_TRUE(extractionDirectories().isEmpty()) << "a package never taken up leaves nothing";
  PendingPackage refused(temp_ + QStringLiteral("/missing.txt"));
  try {
    refused.finish();
    ADD_FAILURE() << "accepted";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Choose a .velmora package."));
  }
  PendingPackage taken(package(QStringLiteral("good.velmora")));
  const OpenedPackage opened = taken.finish();
  EXPECT_EQ(opened.request.name, QStringLiteral("Hostile"));
  EXPECT_EQ(extractionDirectories().size(), 1);
}

}  // namespace
