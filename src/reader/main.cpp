// The confined package reader. The helper starts it for one package, with
// the package open on descriptor 0 and a fresh extraction directory named on
// the command line; it confines itself before it reads a byte, inspects,
// extracts and reads the package, answers on descriptor 3, and then, when the
// helper asks on descriptor 4, decodes a thumbnail of the skin's image. Every
// library that parses the package's bytes (the zip tool, libarchive, the JSON
// parser, the image decoders) runs here, under hard limits, and never in the
// helper itself.
#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <exception>
#include <optional>

#include "base/Confinement.h"
#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "base/PathBytes.h"
#include "package/PackageManifest.h"
#include "package/PackageVetting.h"
#include "package/ReaderProtocol.h"
#include "package/ZipExtractor.h"
#include "reader/ThumbnailDecoder.h"

namespace {

ReaderAnswer failed(ReaderAnswer::Outcome outcome, const QString& message) {
  ReaderAnswer answer;
  answer.outcome = outcome;
  answer.message = message;
  return answer;
}

ReaderAnswer::Outcome outcomeOf(const HelperError& error) {
  return error.errorCase() == HelperError::Case::invalidRequest
             ? ReaderAnswer::Outcome::invalidRequest
             : ReaderAnswer::Outcome::processFailed;
}

// Reads the package into `directory`; the thumbnail's source is set when the
// package is read. Image decoders write their complaints about a broken image
// straight to standard error, which is then `quiet` (no concern of the
// user's terminal: such an image simply has no thumbnail).
ReaderAnswer readInto(const QString& packagePath, const QString& directory,
                      std::optional<ThumbnailDecoder>& thumbnail, int quiet) {
  try {
    const InspectedPackage package =
        inspectOpenPackage(FileDescriptor(kReaderPackageFd), packagePath);
    extractZip(package.file.get(), directory, package.names);
    ReaderAnswer answer;
    answer.outcome = ReaderAnswer::Outcome::request;
    answer.request = readManifest(directory);
    const QString image = answer.request.image.toLocalFile();
    answer.imageName = QFileInfo(image).fileName();
    answer.request.image = QUrl();
    // From here on nothing is written: a decoder never can.
    stopWriting();
    if (quiet >= 0) ::dup2(quiet, STDERR_FILENO);
    thumbnail.emplace(image);
    answer.thumbnailSize = thumbnail->size();
    return answer;
  } catch (const HelperError& error) {
    return failed(outcomeOf(error), error.localizedDescription());
  } catch (const Failure& error) {
    return failed(ReaderAnswer::Outcome::platformError, error.localizedDescription());
  } catch (const std::exception& error) {
    return failed(ReaderAnswer::Outcome::platformError, QString::fromLocal8Bit(error.what()));
  }
}

// Waits for the helper's one request and answers it; the end of the request
// stream means the helper no longer wants a thumbnail.
void serveThumbnail(const ThumbnailDecoder& thumbnail) {
  const std::optional<QByteArray> request = readExactly(kReaderRequestFd, 8);
  if (!request) return;
  const std::optional<QSize> pixels = decodeThumbnailRequest(*request);
  if (!pixels) return;
  const QImage image = thumbnail.decode(*pixels);
  QByteArray argb32;
  if (!image.isNull() && image.size() == *pixels && image.format() == QImage::Format_ARGB32) {
    for (int row = 0; row < image.height(); ++row) {
      argb32.append(reinterpret_cast<const char*>(image.constScanLine(row)),
                    qsizetype(image.width()) * 4);
    }
  }
  writeAll(kReaderAnswerFd, encodeThumbnail(*pixels, argb32));
}

// Qt's own complaints about a broken image go the same way.
void silent(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

#ifdef VELMORA_SANITIZED
// The leak checker stops the process with ptrace, which the reader's filter
// forbids; what a reader that is about to end holds is of no interest.
extern "C" int __lsan_is_turned_off() {
  return 1;
}
#endif

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  qInstallMessageHandler(silent);
  const QByteArray directory(argv[2]);
  // Opened before confinement, which forbids opening anything for writing.
  const FileDescriptor quiet(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  try {
    confineProcess(directory);
  } catch (const Failure& error) {
    // Never read a package unconfined.
    writeAll(kReaderAnswerFd, encodeAnswer(failed(ReaderAnswer::Outcome::platformError,
                                                  error.localizedDescription())));
    return 1;
  }
  std::optional<ThumbnailDecoder> thumbnail;
  const ReaderAnswer answer = readInto(pathFromBytes(QByteArray(argv[1])),
                                       QFile::decodeName(directory), thumbnail, quiet.get());
  if (!writeAll(kReaderAnswerFd, encodeAnswer(answer))) return 1;
  if (thumbnail && !thumbnail->size().isEmpty()) serveThumbnail(*thumbnail);
  return 0;
}
