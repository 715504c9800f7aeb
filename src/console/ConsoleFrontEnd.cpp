#include "console/ConsoleFrontEnd.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "base/Limits.h"
#include "flow/AlertText.h"
#include "flow/TransferText.h"

namespace {

/// What readAnswerByte() gives once the cancel descriptor is readable.
constexpr int kAnswerCancelled = EOF - 1;

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
  const std::optional<std::string> line = readAnswer();
  if (!line) return false;
  const QString answer =
      QString::fromUtf8(line->data(), static_cast<qsizetype>(line->size())).trimmed().toLower();
  return answer == u"y" || answer == u"yes";
}

void ConsoleFrontEnd::cancelAnswerOnceReadable(int descriptor) {
  cancelDescriptor_ = descriptor;
}

int ConsoleFrontEnd::readAnswerByte() {
  const int input = fileno(in_);
  // A stream with no descriptor (one in memory) never waits.
  if (input < 0) return std::fgetc(in_);
  // One byte at a time straight from the descriptor: nothing past the line
  // is taken from the input, and no buffer hides what is there from poll().
  for (;;) {
    pollfd waits[2] = {{input, POLLIN, 0}, {cancelDescriptor_, POLLIN, 0}};
    const nfds_t count = cancelDescriptor_ >= 0 ? 2 : 1;
    if (::poll(waits, count, -1) < 0) {
      if (errno == EINTR) continue;
      return EOF;
    }
    if (count == 2 && waits[1].revents != 0) return kAnswerCancelled;
    unsigned char byte = 0;
    const ssize_t got = ::read(input, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return EOF;  // the end of the input, or an input that cannot be read
  }
}

std::optional<std::string> ConsoleFrontEnd::readAnswer() {
  std::string line;
  for (int c = readAnswerByte(); c != '\n' && c != EOF; c = readAnswerByte()) {
    // Cut short: no answer, whatever was typed so far.
    if (c == kAnswerCancelled) return std::nullopt;
    // No answer is this long: the input is not someone typing.
    if (static_cast<qsizetype>(line.size()) == kMaxConsoleAnswerBytes) return std::nullopt;
    line.push_back(static_cast<char>(c));
  }
  return line;
}

void ConsoleFrontEnd::applyStarted(const QString&, std::function<bool()>) {}

void ConsoleFrontEnd::engineStarted() {
  eraseProgress();
}

void ConsoleFrontEnd::applyEnded() {
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
