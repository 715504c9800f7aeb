// A link, all the way to the request the user is asked to confirm or to the
// refusal shown instead: every accepted request has an https image on one of
// the two allowed hosts, a clean name and three clean colours; every refusal
// carries one of the link messages.
#include <cstddef>
#include <cstdint>

#include "FuzzProperties.h"
#include "link/HostPolicy.h"
#include "link/SkinLink.h"

namespace {

const QStringList& linkMessages() {
  static const QStringList messages{
      QStringLiteral("Unsupported Velmora action."),
      QStringLiteral("The skin link is invalid."),
      QStringLiteral("The skin link has no valid image."),
      QStringLiteral("Velmora Helper only downloads HTTPS images from ") + skinSiteDomain() + u'.',
      QStringLiteral("The skin contains an invalid color value."),
  };
  return messages;
}

void requireAllowedImage(const QUrl& image) {
  const QString shown = image.toString();
  require(image.isValid(), "the image address is valid", shown);
  require(image.scheme() == u"https", "the image address is https", shown);
  require(allowedImageHosts().contains(image.host(QUrl::FullyEncoded)),
          "the image host is one of the two allowed hosts", shown);
  // The address as it goes on the wire reads back to the same host, so what
  // was checked is what is connected to.
  const QUrl again = QUrl::fromEncoded(image.toEncoded(), QUrl::StrictMode);
  require(again.isValid() && again.scheme() == u"https" &&
              again.host(QUrl::FullyEncoded) == image.host(QUrl::FullyEncoded),
          "the encoded image address reads back to the same host", shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString link =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  try {
    const SkinRequest request = requestFromLink(link);
    requireAllowedImage(request.image);
    requireNameShape(request.name);
    requireCleanColor(request.accent);
    requireCleanColor(request.secondary);
    requireCleanColor(request.highlight);
  } catch (const Failure& failure) {
    requireRefusal(failure, linkMessages());
  }
  return 0;
}
