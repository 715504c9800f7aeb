#pragma once
#include <QString>
#include <functional>
#include <memory>

#include "request/SkinRequest.h"

class PackageThumbnail;
class PendingPackage;

/// What sets one input's flow apart; the delegate's flow does the rest.
struct FlowInput {
  /// The title of the alert that shows why the input was refused.
  QString refusalTitle;
  /// Reads and checks the input's request; throws Failure to refuse it.
  std::function<SkinRequest()> read;
  /// Where the skin comes from, for the confirmation: the image's host or
  /// the package's file name.
  std::function<QString(const SkinRequest&)> source;
  /// Takes back what was made for the request when the user declines; may be empty.
  std::function<void(const SkinRequest&)> discard;
};

/// The link flow: a velmora link, whose image is downloaded only once the
/// user has confirmed.
FlowInput linkInput(const QString& link);

/// The package flow: a .velmora file, inspected and extracted by the
/// confined reader before the user is asked; `expected` is taken when it is
/// the reading of this path begun ahead. The reader is left in `thumbnail`,
/// to decode the thumbnail while the question is open.
FlowInput packageInput(const QString& path, std::unique_ptr<PendingPackage>& expected,
                       std::unique_ptr<PackageThumbnail>& thumbnail);
