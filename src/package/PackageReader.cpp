#include "package/PackageReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>

#include "BuildConfig.h"
#include "base/ConfinedChild.h"
#include "base/FreshDirectory.h"
#include "base/HelperError.h"
#include "base/Limits.h"
#include "base/PathBytes.h"
#include "base/PathText.h"
#include "base/SelfExecutable.h"
#include "base/SystemError.h"
#include "package/PackageManifest.h"
#include "package/PackageVetting.h"
#include "package/ReaderProtocol.h"
#include "request/Validators.h"

namespace {

// What the user reads when the reader ends without a well-formed answer: it
// crashed, hit a limit or took too long, all because of the package.
const QString kUnreadable = QStringLiteral("The skin package could not be read.");

struct Pipe {
  FileDescriptor read{-1};
  FileDescriptor write{-1};
};

Pipe openReaderPipe() {
  int ends[2];
  if (!openPipe(ends)) throw PlatformError(systemErrorText(QStringLiteral("pipe"), errno));
  return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

[[noreturn]] void throwFailure(const ReaderAnswer& answer) {
  switch (answer.outcome) {
    case ReaderAnswer::Outcome::invalidRequest:
      throw HelperError::invalidRequest(answer.message);
    case ReaderAnswer::Outcome::processFailed:
      throw HelperError::processFailed(answer.message);
    default:
      throw PlatformError(answer.message);
  }
}

// The reader is trusted no more than the package: its answer must be a
// request the package could have made, naming a file at the top of the
// extraction directory.
SkinRequest checkedRequest(const ReaderAnswer& answer, const QString& directory) {
  const SkinRequest& told = answer.request;
  const QString& image = answer.imageName;
  const bool bareName = !image.isEmpty() && image != u"." && image != u".." &&
                        !image.contains(u'/') && !image.contains(QChar(0));
  bool valid = bareName && kPackageImageExtensions.contains(pathExtension(image).toLower()) &&
               validatedName(told.name) == told.name;
  try {
    valid = valid && validatedColor(told.accent, kDefaultAccent) == told.accent &&
            validatedColor(told.secondary, kDefaultSecondary) == told.secondary &&
            validatedColor(told.highlight, kDefaultHighlight) == told.highlight;
  } catch (const HelperError&) {
    valid = false;
  }
  if (!valid) throw HelperError::processFailed(kUnreadable);
  checkImageFile(directory, image);
  SkinRequest request = told;
  request.image = QUrl::fromLocalFile(directory + u'/' + image);
  return request;
}

}  // namespace

QString packageReaderProgram() {
  const QString here = QFileInfo(executablePath()).path();
  const QString installed = QDir::cleanPath(
      here + QStringLiteral("/" VELMORA_READER_FROM_BINDIR "/" VELMORA_READER_NAME));
  if (QFileInfo::exists(installed)) return installed;
  return here + QStringLiteral("/" VELMORA_READER_NAME);
}

PendingPackage::PendingPackage(const QString& packagePath, const QString& readerProgram)
    : path_(packagePath) {
  try {
    checkPackageExtension(packagePath);
    FileDescriptor package = openPackage(packagePath);
    directory_ = createFreshDirectory();
    Pipe answers = openReaderPipe();
    Pipe requests = openReaderPipe();
    const QByteArray program = QFile::encodeName(readerProgram);
    reader_ = std::make_unique<ConfinedChild>(
        program, QList<QByteArray>{program, pathBytes(packagePath), QFile::encodeName(directory_)},
        std::vector<InheritedDescriptor>{{package.get(), kReaderPackageFd},
                                         {answers.write.get(), kReaderAnswerFd},
                                         {requests.read.get(), kReaderRequestFd}});
    // Only the reader holds the other ends now: its end of the stream is seen.
    answers_ = std::move(answers.read);
    requests_ = std::move(requests.write);
  } catch (...) {
    // Said when the package is taken up, as any other refusal.
    failure_ = std::current_exception();
  }
}

PendingPackage::~PendingPackage() {
  // A package never taken up, or refused: its reader is stopped before
  // the directory it writes in goes.
  reader_.reset();
  if (!directory_.isEmpty()) removeTree(directory_);
}

OpenedPackage PendingPackage::finish() {
  if (failure_) std::rethrow_exception(failure_);
  const std::optional<ReaderAnswer> answer = readAnswer(answers_.get(), kReaderAnswerTimeout);
  if (!answer) throw HelperError::processFailed(kUnreadable);
  if (answer->outcome != ReaderAnswer::Outcome::request) throwFailure(*answer);
  OpenedPackage opened{checkedRequest(*answer, directory_), nullptr};
  if (!answer->thumbnailSize.isEmpty()) {
    opened.thumbnail = std::make_unique<PackageThumbnail>(
        std::move(reader_), std::move(answers_), std::move(requests_), answer->thumbnailSize);
  }
  // The directory is the request's from here on.
  directory_.clear();
  return opened;
}

OpenedPackage readPackage(const QString& packagePath, const QString& readerProgram) {
  return PendingPackage(packagePath, readerProgram).finish();
}

void discardPackage(const SkinRequest& request) {
  // The image lies at the top of the extraction directory.
  removeTree(QFileInfo(request.image.toLocalFile()).path());
}
