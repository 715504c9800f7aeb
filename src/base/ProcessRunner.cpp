#include "base/ProcessRunner.h"

#include <QProcess>
#include <QStringDecoder>

#include "base/HelperError.h"

namespace {

// Cuts `bytes` back so that it does not end inside a UTF-8 sequence.
void trimToUtf8Boundary(QByteArray& bytes) {
  qsizetype end = bytes.size();
  qsizetype back = 0;
  while (back < 4 && end - back > 0 &&
         (static_cast<unsigned char>(bytes.at(end - back - 1)) & 0xC0) == 0x80) {
    ++back;
  }
  if (end - back > 0) {
    const auto lead = static_cast<unsigned char>(bytes.at(end - back - 1));
    const qsizetype length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > back + 1) bytes.truncate(end - back - 1);
  }
}

QString strictUtf8(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  return decoder.hasError() ? QString() : text;
}

}  // namespace

QString runProcess(const QString& executable, const QStringList& arguments, bool captureOutput,
                   OutputText outputText, const QProcessEnvironment& environment) {
  QProcess process;
  process.setProgram(executable);
  process.setArguments(arguments);
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.setInputChannelMode(QProcess::ForwardedInputChannel);
  process.start(QIODevice::ReadOnly);
  if (!process.waitForStarted(-1)) throw PlatformError(process.errorString());

  QByteArray output;
  bool truncated = false;
  auto keep = [&](const QByteArray& chunk) {
    if (truncated) return;
    if (output.size() + chunk.size() > kMaxKeptProcessOutput) {
      output.append(chunk.left(kMaxKeptProcessOutput - output.size()));
      trimToUtf8Boundary(output);
      truncated = true;
    } else {
      output.append(chunk);
    }
  };
  // Drain while the child runs, so that a child writing more than a pipe
  // holds is never left blocked. waitForReadyRead() returns false once the
  // child has exited; a child that closed its output but keeps running is
  // waited for there without spinning.
  while (process.state() != QProcess::NotRunning) {
    process.waitForReadyRead(-1);
    keep(process.readAll());
  }
  keep(process.readAll());

  const QString text =
      outputText == OutputText::strictUtf8 ? strictUtf8(output) : QString::fromUtf8(output);
  if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
    return captureOutput ? text : QString();
  }
  const QString message = text.trimmed();
  throw HelperError::processFailed(
      message.isEmpty() ? QStringLiteral("The local Orvane skin engine failed.") : message);
}
