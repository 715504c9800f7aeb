#include "base/PathBytes.h"

#include <gtest/gtest.h>

namespace {

TEST(PathBytes, EveryByteOfAFileNameSurvivesTextAndFileUrls) {
  const QByteArray names[] = {
      "/tmp/Aurora.velmora",
      "/tmp/caf\xc3\xa9 \xf0\x9f\x8c\x85.velmora",  // UTF-8, a character beyond U+FFFF
      "/tmp/caf\xe9.velmora",                       // Latin-1
      "/tmp/\xc3\x28\xed\xa0\x80\xf4\x90\x80\x80\xff\x80.velmora",  // broken and forbidden UTF-8
      "/tmp/\xf0\x90\x82\x80\xe9 #%?.velmora",  // a pair whose low half looks like an escape
  };
  for (const QByteArray& name : names) {
    SCOPED_TRACE(name.toStdString());
    const QString text = pathFromBytes(name);
    EXPECT_EQ(pathBytes(text), name);
    EXPECT_EQ(pathBytes(pathOfFileUrl(fileUrlOfPath(text))), name);
  }
  // Valid UTF-8 reads as Qt reads it.
  EXPECT_EQ(pathFromBytes("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
  // A desktop's file URL, its escapes read as bytes.
  EXPECT_EQ(pathBytes(pathOfFileUrl("file:///tmp/caf%E9.velmora")), "/tmp/caf\xe9.velmora");
  EXPECT_EQ(pathBytes(pathOfFileUrl("file://localhost/tmp/a%20b.velmora")), "/tmp/a b.velmora");
  EXPECT_EQ(pathOfFileUrl("https://velmora.app/a.velmora"), QString());
}

}  // namespace
