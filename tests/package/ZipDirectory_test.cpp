#include "package/ZipDirectory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>

#include "base/FileDescriptor.h"
#include "package/PackageSandbox.h"

namespace {

// A NUL is found in whichever directory a reader takes, and in the local
// headers it points at; nothing else counts as one.
TEST(ZipDirectory, FindsANulInANameWhereverAReaderFindsTheDirectory) {
  struct Case {
    const char* package;
    bool holdsNul;
  } cases[] = {
      {"nul-name.velmora", true},
      {"nul-local-name.velmora", true},
      {"nul-name-prepended.velmora", true},
      {"nul-name-zip64.velmora", true},
      {"good.velmora", false},
      {"twelve-entries.velmora", false},
      {"streamed-unicode.velmora", false},
      {"explorer-cp437.velmora", false},
      {"empty.velmora", false},
      {"not-a-zip.velmora", false},
      {"truncated.velmora", false},
  };
  for (const Case& c : cases) {
    const FileDescriptor file(
        ::open(QFile::encodeName(package(QString::fromUtf8(c.package))).constData(),
               O_RDONLY | O_CLOEXEC));
    ASSERT_GE(file.get(), 0) << c.package;
    EXPECT_EQ(zipNamesHoldNul(file.get()), c.holdsNul) << c.package;
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_CUR), 0) << c.package;
  }
}

}  // namespace
