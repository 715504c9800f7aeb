// Archives found by fuzzing the extractor (tests/fuzz), kept as regression
// cases: each is the minimised input, byte for byte.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/HelperError.h"
#include "package/ZipExtractor.h"
#include "support/Expect.h"

namespace {

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
