#include "console/ConsoleFrontEnd.h"

#include <unistd.h>

#include <string>

#include "console/InterruptWatch.h"
#include "flow/AlertText.h"
#include "flow/TransferText.h"

namespace {

void write(std::FILE* file, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), file);
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err, std::FILE* in)
    : out_(out), err_(err), in_(in) {}

ConsoleFrontEnd::~ConsoleFrontEnd() = default;

void ConsoleFrontEnd::print(std::FILE* stream, const QString& title, const QString& text) {
  write(stream,
        displaySafe(title, false) + u'\n' + displaySafe(text, true) + QStringLiteral("\n\n"));
  std::fflush(stream);
}

void ConsoleFrontEnd::showAlert(AlertKind kind, const QString& title, const QString& text) {
  if (kind == AlertKind::usage) {
    write(err_, QStringLiteral("velmora-helper: ") + displaySafe(text, false) + u'\n');
    std::fflush(err_);
    return;
  }
  print(kind == AlertKind::problem ? err_ : out_, title, text);
}

bool ConsoleFrontEnd::askToApply(const QString& title, const QString& text,
                                 const ConfirmationDetails& details) {
  print(out_, title, text);
  write(out_, QStringLiteral("From: ") + displaySafe(details.source, false) + u'\n' +
                  QStringLiteral("Colors: accent ") + displaySafe(details.accent, false) +
                  QStringLiteral(", secondary ") + displaySafe(details.secondary, false) +
                  QStringLiteral(", highlight ") + displaySafe(details.highlight, false) + u'\n' +
                  QStringLiteral("Apply skin? [y/N] "));
  std::fflush(out_);
  std::string line;
  for (int c = std::fgetc(in_); c != EOF && c != '\n'; c = std::fgetc(in_)) {
    line.push_back(static_cast<char>(c));
  }
  const QString answer =
      QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).trimmed().toLower();
  return answer == u"y" || answer == u"yes";
}

void ConsoleFrontEnd::applyStarted(const QString&, std::function<bool()> cancel) {
  if (!cancel) return;
  interrupts_ = std::make_unique<InterruptWatch>([cancel = std::move(cancel)] { cancel(); });
}

void ConsoleFrontEnd::engineStarted() {
  interrupts_.reset();
  eraseProgress();
}

void ConsoleFrontEnd::applyEnded() {
  interrupts_.reset();
  eraseProgress();
}

void ConsoleFrontEnd::downloadProgress(qint64 received, qint64 total) {
  if (!isatty(fileno(err_))) return;
  // Redrawing for every network read would flood a slow terminal.
  const auto now = std::chrono::steady_clock::now();
  if (progressIsShown_ && now - lastProgress_ < std::chrono::milliseconds(100)) return;
  lastProgress_ = now;
  write(err_, QStringLiteral("\rDownloading skin image: ") + receivedText(received, total) +
                  QStringLiteral("\x1b[K"));
  std::fflush(err_);
  progressIsShown_ = true;
}

void ConsoleFrontEnd::eraseProgress() {
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
