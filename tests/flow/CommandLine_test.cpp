#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "flow/CommandLine.h"

namespace {

QStringList args(std::initializer_list<const char*> list) {
  QStringList result;
  for (const char* a : list) result.append(QString::fromUtf8(a));
  return result;
}

TEST(CommandLine, OptionsComeBeforeInputsAndDoubleDashEndsThem) {
  CommandLine line = parseCommandLine(args({"--console", "--", "--check", "-x"}));
  EXPECT_TRUE(line.error.isEmpty());
  EXPECT_TRUE(line.console);
  EXPECT_FALSE(line.check);
  EXPECT_EQ(line.inputs, args({"--check", "-x"}));

  line = parseCommandLine(args({"a.velmora", "--console"}));
  EXPECT_FALSE(line.console);
  EXPECT_EQ(line.inputs, args({"a.velmora", "--console"}));

  line = parseCommandLine(args({"-"}));
  EXPECT_EQ(line.inputs, args({"-"}));
}

TEST(CommandLine, UsageErrors) {
  EXPECT_FALSE(parseCommandLine(args({"--frobnicate"})).error.isEmpty());
  EXPECT_FALSE(parseCommandLine(args({"-v", "x"})).error.isEmpty());
  EXPECT_FALSE(parseCommandLine(args({"--check"})).error.isEmpty());
  EXPECT_FALSE(parseCommandLine(args({"--check", "a", "b"})).error.isEmpty());
  EXPECT_TRUE(parseCommandLine(args({"--check", "--", "-a.velmora"})).error.isEmpty());
  EXPECT_TRUE(parseCommandLine(args({"--help"})).help);
  EXPECT_TRUE(parseCommandLine(args({"--version"})).version);
}

TEST(OpenEvent, PathsAloneMakeAnOpenFilesEvent) {
  const OpenEvent event =
      openEventFor(args({"Aurora.velmora", "/abs/B [v2].velmora"}), QStringLiteral("/home/u"));
  EXPECT_EQ(event.kind, OpenEvent::Kind::files);
  EXPECT_EQ(event.items, args({"/home/u/Aurora.velmora", "/abs/B [v2].velmora"}));
}

TEST(OpenEvent, AnyUrlMakesOneOpenUrlEventWithPathsAsFileUrls) {
  const OpenEvent event = openEventFor(
      args({"a#b%.velmora", "velmora://apply?x", "https://example.com"}), QStringLiteral("/w"));
  EXPECT_EQ(event.kind, OpenEvent::Kind::urls);
  ASSERT_EQ(event.items.size(), 3);
  EXPECT_EQ(QUrl(event.items[0]).toLocalFile(), QStringLiteral("/w/a#b%.velmora"));
  EXPECT_EQ(event.items[1], QStringLiteral("velmora://apply?x"));
  EXPECT_EQ(event.items[2], QStringLiteral("https://example.com"));
}

TEST(OpenEvent, AnExistingFileIsThatFileEvenWhenItBeginsLikeAScheme) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"Aurora:v2.velmora", "velmora:apply"}) {
    QFile file(dir.filePath(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const struct {
    QStringList inputs;
    OpenEvent::Kind kind;
    QStringList items;
  } cases[] = {
      {args({"Aurora:v2.velmora"}), OpenEvent::Kind::files, {dir.filePath("Aurora:v2.velmora")}},
      {{dir.filePath("velmora:apply")}, OpenEvent::Kind::files, {dir.filePath("velmora:apply")}},
      {args({"Aurora:v3.velmora"}), OpenEvent::Kind::urls, args({"Aurora:v3.velmora"})},
      {args({"velmora:apply", "mailto:a@b.c"}),
       OpenEvent::Kind::urls,
       {QUrl::fromLocalFile(dir.filePath("velmora:apply")).toString(QUrl::FullyEncoded),
        QStringLiteral("mailto:a@b.c")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inputs.join(u' ').toStdString());
    const OpenEvent event = openEventFor(c.inputs, dir.path());
    EXPECT_EQ(event.kind, c.kind);
    EXPECT_EQ(event.items, c.items);
  }
}

TEST(OpenEvent, NoInputNoEvent) {
  EXPECT_EQ(openEventFor({}, QStringLiteral("/")).kind, OpenEvent::Kind::none);
}

}  // namespace
