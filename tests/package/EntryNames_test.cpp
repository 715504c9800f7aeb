#include "package/EntryNames.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "package/PackageSandbox.h"
#include "package/Utf8Locale.h"

namespace {

TEST(EntryNames, ExactFirstThenTheOneEquivalentName) {
  const QString nfc = QStringLiteral("\u00e9cran.png");
  const QString nfd = QStringLiteral("e\u0301cran.png");
  struct Case {
    QString name;
    QStringList candidates;
    QStringList matches;
  } cases[] = {
      {QStringLiteral("bg.png"), {QStringLiteral("bg.png")}, {QStringLiteral("bg.png")}},
      // The exact name wins over every equivalent one.
      {QStringLiteral("bg.png"),
       {QStringLiteral("BG.png"), QStringLiteral("bg.png")},
       {QStringLiteral("bg.png")}},
      {QStringLiteral("background.png"),
       {QStringLiteral("theme.json"), QStringLiteral("Background.png")},
       {QStringLiteral("Background.png")}},
      {nfc, {nfd}, {nfd}},
      {nfd, {nfc}, {nfc}},
      // Case and composition at once; a final sigma is a sigma.
      {QStringLiteral("\u00c9CRAN.PNG"), {nfd}, {nfd}},
      {QStringLiteral("\u03a3\u039f\u03a6\u0399\u0391\u03a3.png"),
       {QStringLiteral("\u03c3\u03bf\u03c6\u03b9\u03b1\u03c2.png")},
       {QStringLiteral("\u03c3\u03bf\u03c6\u03b9\u03b1\u03c2.png")}},
      {QStringLiteral("\u212b.png"),
       {QStringLiteral("\u00e5.png")},
       {QStringLiteral("\u00e5.png")}},
      // Two equivalent names and no exact one: neither is meant.
      {QStringLiteral("background.png"),
       {QStringLiteral("Background.png"), QStringLiteral("BACKGROUND.PNG")},
       {QStringLiteral("Background.png"), QStringLiteral("BACKGROUND.PNG")}},
      {nfc, {QStringLiteral("\u00c9cran.png"), nfd}, {QStringLiteral("\u00c9cran.png"), nfd}},
      // Look-alikes that are not the same name.
      {QStringLiteral("bg.png"), {QStringLiteral("bg.png "), QStringLiteral("b g.png")}, {}},
      {QStringLiteral("ecran.png"), {nfc, nfd}, {}},
      {QStringLiteral("bg.png"), {QStringLiteral("bg\uff0epng")}, {}},
      {QStringLiteral("theme.json"), {QStringLiteral("._theme.json")}, {}},
      {QStringLiteral("bg.png"), {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(matchingEntryNames(c.name, c.candidates), c.matches)
        << c.name.toStdString() << " in " << c.candidates.join(u'|').toStdString();
  }
}

// The zip tool's listing of an archive made on MS-DOS, read as the
// inspection reads it, is what dosListedName() makes of the stored bytes:
// one entry whose name holds every byte from 0x80 to 0xFF, flagged as UTF-8
// or not.
TEST(EntryNames, DosNamesAreListedAsTheZipToolPrintsThem) {
  QByteArray stored = "n";
  for (int byte = 0x80; byte <= 0xFF; ++byte) stored += static_cast<char>(byte);
  for (const char* name : {"dos-bytes.velmora", "dos-bytes-flagged.velmora"}) {
    QProcess unzip;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), utf8LocaleName());
    unzip.setProcessEnvironment(environment);
    unzip.start(QStringLiteral("/usr/bin/unzip"),
                {QStringLiteral("-Z1"), package(QString::fromUtf8(name))});
    ASSERT_TRUE(unzip.waitForFinished(-1));
    ASSERT_EQ(unzip.exitCode(), 0) << name;
    EXPECT_EQ(QString::fromUtf8(unzip.readAllStandardOutput()), dosListedName(stored) + u'\n')
        << name;
  }
}

}  // namespace
