#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "base/FreshDirectory.h"

namespace {

void writeFile(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
}

TEST(FreshDirectory, RemoveTreeTakesTheTreeButNothingALinkPointsTo) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString outside = scratch.filePath(QStringLiteral("outside"));
  ASSERT_TRUE(QDir().mkpath(outside));
  writeFile(outside + QStringLiteral("/keep.txt"));

  const QString tree = createFreshDirectory(scratch.path());
  ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/a/b")));
  writeFile(tree + QStringLiteral("/a/b/image.png"));
  ASSERT_TRUE(QFile::link(outside, tree + QStringLiteral("/a/to-outside")));
  ASSERT_TRUE(
      QFile::link(outside + QStringLiteral("/keep.txt"), tree + QStringLiteral("/file-link")));

  removeTree(tree);
  EXPECT_FALSE(QFileInfo::exists(tree));
  EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
  removeTree(tree);  // already gone: nothing happens
  removeTree(QString());
}

}  // namespace
