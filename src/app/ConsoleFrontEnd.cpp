#include "app/ConsoleFrontEnd.h"

#include <unistd.h>

#include <string>

#include "app/AlertText.h"

namespace {

void write(std::FILE* file, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file);
}

QString mebibytes(qint64 bytes) {
  return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1) +
         QStringLiteral(" MiB");
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err, std::FILE* in)
    : out_(out), err_(err), in_(in) {}

void ConsoleFrontEnd::print(const QString& title, const QString& text) {
  write(out_, displaySafe(title, false) + u'\n' + displaySafe(text, true) + QStringLiteral("\n\n"));
  std::fflush(out_);
}

void ConsoleFrontEnd::showAlert(const QString& title, const QString& text) {
  print(title, text);
}

bool ConsoleFrontEnd::askToApply(const QString& title, const QString& text) {
  print(title, text);
  write(out_, QStringLiteral("Apply skin? [y/N] "));
  std::fflush(out_);
  std::string line;
  for (int c = std::fgetc(in_); c != EOF && c != '\n'; c = std::fgetc(in_)) {
    line.push_back(static_cast<char>(c));
  }
  const QString answer =
      QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).trimmed().toLower();
  return answer == u"y" || answer == u"yes";
}

std::optional<int> ConsoleFrontEnd::nothingToDo() {
  write(err_, QStringLiteral(
                  "velmora-helper: nothing to do: give a velmora:// link or a .velmora file\n"));
  std::fflush(err_);
  return 2;
}

void ConsoleFrontEnd::downloadProgress(qint64 received, qint64 total) {
  if (!isatty(fileno(err_))) return;
  // Redrawing for every network read would flood a slow terminal.
  const auto now = std::chrono::steady_clock::now();
  if (progressIsShown_ && now - lastProgress_ < std::chrono::milliseconds(100)) return;
  lastProgress_ = now;
  QString line = QStringLiteral("\rDownloading skin image: ") + mebibytes(received);
  if (total > 0) line += QStringLiteral(" of ") + mebibytes(total);
  write(err_, line + QStringLiteral("\x1b[K"));
  std::fflush(err_);
  progressIsShown_ = true;
}

void ConsoleFrontEnd::downloadFinished() {
  if (!progressIsShown_) return;
  write(err_, QStringLiteral("\r\x1b[K"));
  std::fflush(err_);
  progressIsShown_ = false;
}

void ConsoleFrontEnd::printRequest(const SkinRequest& request) {
  const QString image =
      request.image.isLocalFile() ? request.image.toLocalFile() : request.image.toString();
  write(out_, QStringLiteral("name: ") + displaySafe(request.name, false) + u'\n' +
                  QStringLiteral("image: ") + displaySafe(image, false) + u'\n' +
                  QStringLiteral("accent: ") + request.accent + u'\n' +
                  QStringLiteral("secondary: ") + request.secondary + u'\n' +
                  QStringLiteral("highlight: ") + request.highlight + u'\n');
  std::fflush(out_);
}
