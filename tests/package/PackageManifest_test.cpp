#include "package/PackageManifest.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/HelperError.h"
#include "package/PackageSandbox.h"
#include "support/Expect.h"

namespace {

const QString kManifestInvalid = QStringLiteral("theme.json is missing or invalid.");
const QString kNotJson = QStringLiteral("theme.json is not valid JSON.");
const QString kSchema = QStringLiteral("This skin package uses an unsupported schema version.");
const QString kFilename = QStringLiteral("The skin image filename is invalid.");
const QString kFormat = QStringLiteral("The skin image format is unsupported.");
const QString kImage = QStringLiteral("The skin image is missing or too large.");
const QString kColor = QStringLiteral("The skin contains an invalid color value.");
const QString kNoManifest = QStringLiteral("The skin package has no theme.json.");

/// An extracted package laid out by hand: theme.json and the files it names.
class Manifest : public ::testing::Test {
 protected:
  QString path(const QString& name) const { return dir_.path() + u'/' + name; }

  void manifest(const QByteArray& json) { writeBytes(path(QStringLiteral("theme.json")), json); }

  // A file of `size` bytes, made sparse so that large ones cost nothing.
  void file(const QString& name, qint64 size) {
    QFile f(path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(size));
  }

  // Reads the package and returns the failure's text, or "" on success.
  QString failure() {
    try {
      read_ = readManifest(dir_.path());
      return QString();
    } catch (const Failure& error) {
      return error.localizedDescription();
    }
  }

  QTemporaryDir dir_;
  SkinRequest read_;
};

TEST_F(Manifest, ReadsAMinimalManifestWithDefaults) {
  manifest(R"({"schemaVersion": 1, "image": "bg.png"})");
  file(QStringLiteral("bg.png"), 10);
  ASSERT_EQ(failure(), QString());
  EXPECT_EQ(read_, (SkinRequest{QStringLiteral("My Orvane Skin"),
                                QUrl::fromLocalFile(path(QStringLiteral("bg.png"))),
                                QStringLiteral("#c5533a"), QStringLiteral("#e28a78"),
                                QStringLiteral("#8a6cff")}));
}

TEST_F(Manifest, ReadsNameAndColours) {
  manifest(R"({"schemaVersion": 1, "image": "Sky Line.jpeg", "name": "\tAurora\n", "extra": [1],
               "colors": {"accent": "#AABBCC", "secondary": "#010203", "highlight": "#fFfFfF"}})");
  file(QStringLiteral("Sky Line.jpeg"), 10);
  ASSERT_EQ(failure(), QString());
  EXPECT_EQ(read_.name, QStringLiteral("Aurora"));
  EXPECT_EQ(read_.image, QUrl::fromLocalFile(path(QStringLiteral("Sky Line.jpeg"))));
  EXPECT_EQ(read_.accent, QStringLiteral("#aabbcc"));
  EXPECT_EQ(read_.secondary, QStringLiteral("#010203"));
  EXPECT_EQ(read_.highlight, QStringLiteral("#ffffff"));
}

TEST_F(Manifest, ManifestFileLimits) {
  file(QStringLiteral("bg.png"), 10);
  QByteArray exact = R"({"schemaVersion": 1, "image": "bg.png")";
  exact += QByteArray(kMaxManifestBytes - exact.size() - 1, ' ') + '}';
  ASSERT_EQ(exact.size(), 262144);
  manifest(exact);
  EXPECT_EQ(failure(), QString());
  manifest(exact + ' ');
  EXPECT_EQ(failure(), kManifestInvalid);

  QFile::remove(path(QStringLiteral("theme.json")));
  EXPECT_EQ(failure(), kNoManifest);

  ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("theme.json"))));
  EXPECT_EQ(failure(), kManifestInvalid);
  ASSERT_TRUE(QDir().rmdir(path(QStringLiteral("theme.json"))));

  // A link to a perfectly good manifest is still refused: links are never followed.
  writeBytes(path(QStringLiteral("real.json")), R"({"schemaVersion": 1, "image": "bg.png"})");
  ASSERT_TRUE(QFile::link(QStringLiteral("real.json"), path(QStringLiteral("theme.json"))));
  EXPECT_EQ(failure(), kManifestInvalid);
}

// Where the manifest is not at the top, the refusal says where it is: a
// folder zipped whole (Finder, Explorer and shutil all make these), or
// nowhere at all. macOS's "__MACOSX/" resource forks are no manifest.
TEST_F(Manifest, AManifestOnlyInAFolderOrNowhereIsRefusedSayingSo) {
  const QByteArray good = R"({"schemaVersion": 1, "image": "bg.png"})";
  const QString inFolder = QStringLiteral(
      "theme.json is not at the top of the package; it is in %1. Zip the skin's "
      "files, not their folder.");
  struct Case {
    QStringList files;  // theme.json-like files to lay out, beside bg.png at the top
    QString message;
  } cases[] = {
      {{}, kNoManifest},
      {{QStringLiteral("Aurora/theme.json"), QStringLiteral("Aurora/bg.png"),
        QStringLiteral("__MACOSX/Aurora/._theme.json")},
       inFolder.arg(QStringLiteral("Aurora/"))},
      {{QStringLiteral("a/b/theme.json"), QStringLiteral("z/Theme.json")},
       inFolder.arg(QStringLiteral("z/"))},
      {{QStringLiteral("__MACOSX/._theme.json"), QStringLiteral("__MACOSX/theme.json")},
       kNoManifest},
      // At the top under another case: that is the manifest; under two, neither is.
      {{QStringLiteral("THEME.JSON")}, QString()},
      {{QStringLiteral("THEME.JSON"), QStringLiteral("Theme.json")}, kManifestInvalid},
  };
  for (const Case& c : cases) {
    QTemporaryDir package;
    ASSERT_TRUE(package.isValid());
    writeBytes(package.filePath(QStringLiteral("bg.png")), "image");
    for (const QString& file : c.files) {
      ASSERT_TRUE(QDir(package.path()).mkpath(QFileInfo(file).path()));
      writeBytes(package.filePath(file), good);
    }
    try {
      readManifest(package.path());
      EXPECT_EQ(QString(), c.message) << c.files.join(u' ').toStdString();
    } catch (const HelperError& refusal) {
      EXPECT_EQ(refusal.errorCase(), HelperError::Case::invalidRequest);
      EXPECT_EQ(refusal.localizedDescription(), c.message) << c.files.join(u' ').toStdString();
    }
  }
}

// The image is looked up exactly, and otherwise under the one name that is
// the same under canonical equivalence and case folding: as macOS stores
// "écran.png" decomposed and Windows keeps "Background.png" for
// "background.png". The request points at the file as stored.
TEST_F(Manifest, TheImageUnderTheNameItWasStoredUnder) {
  const QString nfd = QStringLiteral("e\u0301cran.png");
  file(nfd, 10);
  file(QStringLiteral("Background.png"), 10);
  struct Case {
    const char* image;
    QString stored;
  } cases[] = {
      {"\u00e9cran.png", nfd},
      {"\u00c9CRAN.png", nfd},
      {"background.png", QStringLiteral("Background.png")},
      {"BACKGROUND.PNG", QStringLiteral("Background.png")},
  };
  for (const Case& c : cases) {
    manifest(QByteArray(R"({"schemaVersion": 1, "image": ")") + c.image + "\"}");
    ASSERT_EQ(failure(), QString()) << c.image;
    EXPECT_EQ(read_.image, QUrl::fromLocalFile(path(c.stored))) << c.image;
  }
  // A second equivalent name leaves none meant.
  file(QStringLiteral("BACKGROUND.png"), 10);
  manifest(R"({"schemaVersion": 1, "image": "background.png"})");
  EXPECT_EQ(failure(), QStringLiteral("background.png: No such file or directory"));
}

TEST_F(Manifest, ParsingFailuresUseTheParsersWordsAndRefuseNonObjects) {
  file(QStringLiteral("bg.png"), 10);
  struct Case {
    const char* json;
    QString message;
  } cases[] = {
      {"not json", QStringLiteral("illegal value")},
      {"", QStringLiteral("illegal value")},
      {"1", QStringLiteral("illegal value")},
      {R"({"schemaVersion": 1,})", QStringLiteral("object is missing after a comma")},
      {R"({"schemaVersion": 1} x)", QStringLiteral("garbage at the end of the document")},
      {R"([{"schemaVersion": 1, "image": "bg.png"}])", kNotJson},
      // A key named twice in any object, however it is written; the parser
      // would keep the last, another reader the first.
      {R"({"schemaVersion": 2, "image": "bg.png", "schemaVersion": 1})", kNotJson},
      {R"({"schemaVersion": 1, "image": "a.png", "image": "bg.png"})", kNotJson},
      {R"({"schemaVersion": 1, "image": "bg.png", "im\u0061ge": "bg.png"})", kNotJson},
      {R"({"schemaVersion": 1, "image": "bg.png", "x": [{"a": 1, "a": 2}]})", kNotJson},
      {R"({"schemaVersion": 1, "image": "bg.png", "colors": {"accent": "#000000",
           "accent": "#ffffff"}})",
       kNotJson},
      // Not duplicates: the same key in different objects, a value equal to
      // a key, keys that differ by an escape or case, brackets inside strings.
      {R"({"schemaVersion": 1, "image": "bg.png", "a": {"image": "image"}, "b": {"image": 1}})",
       QString()},
      {R"({"schemaVersion": 1, "image": "bg.png", "Image": "x", "image\"": "{\"image\": 1}"})",
       QString()},
      {R"({"schemaVersion": 1, "image": "bg.png", "l": [["a", "a"], {"a": "}"}, {"a": "]"}]})",
       QString()},
  };
  for (const Case& c : cases) {
    manifest(c.json);
    EXPECT_EQ(failure(), c.message) << c.json;
  }
  manifest("not json");
  EXPECT_THROW(readManifest(dir_.path()), PlatformError);
}

TEST_F(Manifest, SchemaVersionMustBeTheNumberOne) {
  file(QStringLiteral("bg.png"), 10);
  struct Case {
    const char* version;
    bool accepted;
  } cases[] = {
      {"1", true},     {"1.0", true},   {"1e0", true},  {"\"1\"", false}, {"2", false},
      {"true", false}, {"null", false}, {"0.9", false}, {"[1]", false},   {"-1", false},
  };
  for (const Case& c : cases) {
    manifest(QByteArray(R"({"image": "bg.png", "schemaVersion": )") + c.version + '}');
    EXPECT_EQ(failure(), c.accepted ? QString() : kSchema) << c.version;
  }
  manifest(R"({"image": "bg.png"})");
  EXPECT_EQ(failure(), kSchema);
  manifest("{}");
  EXPECT_EQ(failure(), kSchema);
}

TEST_F(Manifest, ImageNameRules) {
  for (const char* name :
       {"bg.png", "BG.PNG", "a.jpg", "a.jpeg", "a.webp", "a.heic", "a.tif", "a.TIFF", "..png"}) {
    file(QString::fromUtf8(name), 10);
  }
  struct Case {
    const char* image;  // JSON text of the "image" member
    QString message;
  } cases[] = {
      {R"("bg.png")", QString()},
      {R"("BG.PNG")", QString()},
      {R"("a.jpg")", QString()},
      {R"("a.jpeg")", QString()},
      {R"("a.webp")", QString()},
      {R"("a.heic")", QString()},
      {R"("a.tif")", QString()},
      {R"("a.TIFF")", QString()},
      {R"("..png")", QString()},
      {R"("images/bg.png")", kFilename},
      {R"("bg.png/")", kFilename},
      {R"("/bg.png")", kFilename},
      {R"("")", kFilename},
      {"5", kFilename},
      {"null", kFilename},
      {R"("bg\u0000.png")", kFilename},
      {R"("bg.png\u0000.txt")", kFilename},
      {R"("bg\u0007.png")", kFilename},
      {R"("bg\n.png")", kFilename},
      {R"("bg\u007f.png")", kFilename},
      {R"("bg\u0085.png")", kFilename},
      {R"("bg.gif")", kFormat},
      {R"("bg")", kFormat},
      {R"("bg.")", kFormat},
      {R"("..")", kFormat},
      {R"("/")", kFormat},
      // The name passes as written; bg.png and BG.PNG are both it but for
      // case, so neither is meant.
      {R"("Bg.png")", QStringLiteral("Bg.png: No such file or directory")},
  };
  for (const Case& c : cases) {
    manifest(QByteArray(R"({"schemaVersion": 1, "image": )") + c.image + '}');
    EXPECT_EQ(failure(), c.message) << c.image;
  }
  manifest(R"({"schemaVersion": 1})");
  EXPECT_EQ(failure(), kFilename);
}

TEST_F(Manifest, ImageFileLimits) {
  manifest(R"({"schemaVersion": 1, "image": "bg.png"})");
  EXPECT_EQ(failure(), QStringLiteral("bg.png: No such file or directory"));
  file(QStringLiteral("bg.png"), 0);
  EXPECT_EQ(failure(), kImage);
  file(QStringLiteral("bg.png"), 1);
  EXPECT_EQ(failure(), QString());
  file(QStringLiteral("bg.png"), kMaxImageBytes);
  EXPECT_EQ(failure(), QString());
  file(QStringLiteral("bg.png"), kMaxImageBytes + 1);
  EXPECT_EQ(failure(), kImage);

  ASSERT_TRUE(QFile::remove(path(QStringLiteral("bg.png"))));
  file(QStringLiteral("real.png"), 10);
  ASSERT_TRUE(QFile::link(QStringLiteral("real.png"), path(QStringLiteral("bg.png"))));
  EXPECT_EQ(failure(), kImage);

  ASSERT_TRUE(QFile::remove(path(QStringLiteral("bg.png"))));
  ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("bg.png"))));
  EXPECT_EQ(failure(), kImage);
}

TEST_F(Manifest, ColoursAndNamesFallBackWhenNotStrings) {
  file(QStringLiteral("bg.png"), 10);
  struct Case {
    const char* members;  // appended to a valid manifest
    QString message;
    const char* name;
    const char* accent;
  } cases[] = {
      {"", QString(), "My Orvane Skin", "#c5533a"},
      {R"(, "colors": 5, "name": 5)", QString(), "My Orvane Skin", "#c5533a"},
      {R"(, "colors": ["#000000"])", QString(), "My Orvane Skin", "#c5533a"},
      {R"(, "colors": {"accent": 12, "secondary": null})", QString(), "My Orvane Skin", "#c5533a"},
      {R"(, "colors": {"Accent": "red"})", QString(), "My Orvane Skin", "#c5533a"},
      {R"(, "name": "  ", "colors": {"accent": "#123ABC"})", QString(), "My Orvane Skin",
       "#123abc"},
      {R"(, "colors": {"accent": "red"})", kColor, "", ""},
      {R"(, "colors": {"accent": ""})", kColor, "", ""},
      {R"(, "colors": {"accent": "#000000", "secondary": "#12345"})", kColor, "", ""},
      {R"(, "colors": {"highlight": "#000000 "})", kColor, "", ""},
  };
  for (const Case& c : cases) {
    manifest(QByteArray(R"({"schemaVersion": 1, "image": "bg.png")") + c.members + '}');
    EXPECT_EQ(failure(), c.message) << c.members;
    if (c.message.isEmpty()) {
      EXPECT_EQ(read_.name, QString::fromUtf8(c.name)) << c.members;
      EXPECT_EQ(read_.accent, QString::fromUtf8(c.accent)) << c.members;
      EXPECT_EQ(read_.secondary, QStringLiteral("#e28a78")) << c.members;
    }
  }
}

TEST_F(Manifest, TheFirstFailedCheckDecides) {
  struct Case {
    const char* json;
    QString message;
  } cases[] = {
      {R"({"schemaVersion": 2, "image": "a/b.gif", "colors": {"accent": "x"}})", kSchema},
      {R"({"schemaVersion": 1, "image": "a/b.gif", "colors": {"accent": "x"}})", kFilename},
      {R"({"schemaVersion": 1, "image": "b.gif", "colors": {"accent": "x"}})", kFormat},
      {R"({"schemaVersion": 1, "image": "none.png", "colors": {"accent": "x"}})",
       QStringLiteral("none.png: No such file or directory")},
      {R"({"schemaVersion": 1, "image": "empty.png", "colors": {"accent": "x"}})", kImage},
  };
  file(QStringLiteral("empty.png"), 0);
  for (const Case& c : cases) {
    manifest(c.json);
    EXPECT_EQ(failure(), c.message) << c.json;
  }
}

}  // namespace
