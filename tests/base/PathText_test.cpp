// The last component and the extension of a path, as packages and links
// name files.
#include "base/PathText.h"

#include <gtest/gtest.h>

TEST(PathText, LastComponentAndExtension) {
  struct Case {
    const char* path;
    const char* last;
    const char* extension;
  } cases[] = {
      {"/a/Skin.VELMORA", "Skin.VELMORA", "VELMORA"},
      {"skin.velmora.zip", "skin.velmora.zip", "zip"},
      {"/a.b/skin", "skin", ""},
      {"skin.velmora ", "skin.velmora ", "velmora "},
      {"bg.png/", "bg.png", "png"},
      {"images/bg.png", "bg.png", "png"},
      {"/", "/", ""},
      {"//", "/", ""},
      {"", "", ""},
      {"bg.", "bg.", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lastPathComponent(QString::fromUtf8(c.path)), QString::fromUtf8(c.last)) << c.path;
    EXPECT_EQ(pathExtension(QString::fromUtf8(c.path)), QString::fromUtf8(c.extension)) << c.path;
  }
}
