// Times validatedName on names of about 1 MB (UTF-8) built to be as costly
// as a hostile sender can make them. Prints the fastest of several runs of
// each, and the first (cold) run, in milliseconds.
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstdio>

#include "request/Validators.h"

namespace {

QString repeated(const QString& piece, qsizetype bytes) {
  const qsizetype times = bytes / piece.toUtf8().size();
  QString text;
  text.reserve(piece.size() * times);
  for (qsizetype i = 0; i < times; ++i) text += piece;
  return text;
}

}  // namespace

int main() {
  constexpr qsizetype kBytes = 1000 * 1000;
  const struct {
    const char* what;
    QString name;
  } cases[] = {
      {"a letter and combining acute accents", u'a' + repeated(QStringLiteral("\u0301"), kBytes)},
      {"Hangul leading jamo", repeated(QStringLiteral("\u1100"), kBytes)},
      {"regional indicators", repeated(QStringLiteral("\U0001F1EB"), kBytes)},
      {"letters with 40 accents each", repeated(u'a' + QString(40, QChar(0x0301)), kBytes)},
      {"plain letters", repeated(QStringLiteral("a"), kBytes)},
  };
  for (const auto& c : cases) {
    qint64 fastest = -1;
    qint64 first = -1;
    for (int run = 0; run < 10; ++run) {
      QElapsedTimer timer;
      timer.start();
      const QString name = validatedName(c.name);
      const qint64 elapsed = timer.nsecsElapsed();
      if (first < 0) first = elapsed;
      fastest = fastest < 0 ? elapsed : std::min(fastest, elapsed);
      if (name.isEmpty()) return 1;
    }
    std::printf("%-40s %8.2f ms (first run %.2f ms)\n", c.what, static_cast<double>(fastest) / 1e6,
                static_cast<double>(first) / 1e6);
  }
  return 0;
}
