#pragma once
#include <QByteArray>
#include <QObject>
#include <QSize>
#include <functional>
#include <memory>

#include "base/ConfinedChild.h"
#include "base/FileDescriptor.h"
#include "package/ReaderProtocol.h"

class QSocketNotifier;
class QTimer;

/// The thumbnail of a package's image, decoded by the confined reader that
/// read the package, which waits for this to ask. The helper itself never
/// decodes the image: it receives at most the pixels it asked for, or nothing
/// once the deadline has passed, the reader failed or a limit stopped it. It
/// lives on the main thread; ending it (or destroying it) stops the reader
/// at once.
class PackageThumbnail final : public QObject {
 public:
  /// Called once with the pixels (32-bit ARGB words in the machine's order,
  /// row after row) and their size, or with no pixels when there are none.
  using Done = std::function<void(const QByteArray& argb32, QSize pixels)>;

  /// Takes over the reader, its answer stream and its request stream.
  PackageThumbnail(std::unique_ptr<ConfinedChild> reader, FileDescriptor answers,
                   FileDescriptor requests, QSize size);
  ~PackageThumbnail() override;

  /// The thumbnail's logical size: at most kThumbnailSide on its longer side.
  QSize size() const { return size_; }

  /// Asks for the picture at `pixels` (physical pixels, the logical size
  /// times the screen's scale); `done` follows on the main thread within
  /// kThumbnailDeadline. Only the first call asks.
  void decode(QSize pixels, Done done);

  /// Stops the reader now; nothing more is reported.
  void end();

 private:
  void readable();
  void finish(const QByteArray& argb32, QSize pixels);

  std::unique_ptr<ConfinedChild> reader_;
  FileDescriptor answers_;
  FileDescriptor requests_;
  QSize size_;
  QSize asked_;
  Done done_;
  ThumbnailFrame frame_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* deadline_ = nullptr;
};
