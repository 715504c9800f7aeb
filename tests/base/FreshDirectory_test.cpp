#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "base/FreshDirectory.h"
#include "base/HelperError.h"

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

TEST(FreshDirectory, RefusesARootAnotherUserControlsBeforeWritingThere) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  // Another user is simulated by "nobody", which only root can hand a directory to.
  constexpr uid_t kNobody = 65534;
  const bool asRoot = ::geteuid() == 0;
  struct Case {
    const char* name;
    mode_t mode;
    bool byNobody;        ///< owned by nobody, or for a group-writable root, of nobody's group
    const char* refusal;  ///< nullptr: the root is used
  } cases[] = {
      {"own", 0700, false, nullptr},
      {"shared-sticky", 01777, false, nullptr},
      {"open", 0777, false, "other users can write to it."},
      {"own-group-writable", 0770, false, nullptr},
      {"other-group-writable", 0770, true, "other users can write to it."},
      {"foreign", 0700, true, "another user owns it."},
      {"foreign-sticky", 01777, true, "another user owns it."},
  };
  for (const Case& c : cases) {
    if (c.byNobody && !asRoot) continue;
    const QString root = scratch.filePath(QString::fromLatin1(c.name));
    ASSERT_EQ(::mkdir(QFile::encodeName(root).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(root).constData(), c.mode), 0);
    // A group-writable root gets nobody's group, the others nobody as owner.
    if (c.byNobody) {
      const bool groupOnly = (c.mode & 0020) != 0 && (c.mode & 0002) == 0;
      ASSERT_EQ(::chown(QFile::encodeName(root).constData(), groupOnly ? ::geteuid() : kNobody,
                        groupOnly ? kNobody : ::getegid()),
                0);
    }
    try {
      const QString fresh = createFreshDirectory(root);
      EXPECT_EQ(c.refusal, nullptr) << c.name;
      EXPECT_TRUE(fresh.startsWith(root + u'/')) << c.name;
    } catch (const PlatformError& error) {
      EXPECT_EQ(error.localizedDescription(), QStringLiteral("The temporary folder ") + root +
                                                  QStringLiteral(" is not safe to use: ") +
                                                  QString::fromLatin1(c.refusal ? c.refusal : ""))
          << c.name;
      EXPECT_TRUE(
          QDir(root).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
          << c.name;
    }
  }
  if (asRoot) {
    // A link to one's own directory that another user may replace.
    const QString link = scratch.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(scratch.filePath(QStringLiteral("own")), link));
    ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), kNobody, 0), 0);
    EXPECT_THROW(createFreshDirectory(link), PlatformError);
  }
  // The system's own /tmp, root's and sticky, is fine.
  removeTree(createFreshDirectory(QStringLiteral("/tmp")));
  // A missing root is made, open to the user only, and so is what leads to it.
  const QString nested = scratch.filePath(QStringLiteral("not/yet"));
  EXPECT_TRUE(createFreshDirectory(nested).startsWith(nested + u'/'));
  for (const QString& made : {scratch.filePath(QStringLiteral("not")), nested}) {
    EXPECT_EQ(QFileInfo(made).permissions() & 0x0077, 0) << made.toStdString();
  }
}

}  // namespace
