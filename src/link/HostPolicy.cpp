#include "link/HostPolicy.h"

#include "BuildConfig.h"
#include "base/HelperError.h"

QString skinSiteDomain() {
  return QStringLiteral(VELMORA_SKIN_SITE);
}

const QSet<QString>& allowedImageHosts() {
  // A function-local static is initialised once even when two threads reach it together.
  static const QSet<QString> hosts{skinSiteDomain().toLower(),
                                   QStringLiteral("www.") + skinSiteDomain().toLower()};
  return hosts;
}

void validateRemoteImageURL(const QUrl& url) {
  // The host is compared in the encoded (ASCII) form that the network stack
  // resolves, so the name checked here is the name connected to.
  const bool allowed = url.isValid() && url.scheme().toLower() == u"https" &&
                       allowedImageHosts().contains(url.host(QUrl::FullyEncoded).toLower());
  if (!allowed) {
    throw HelperError::invalidRequest(
        QStringLiteral("Velmora Helper only downloads HTTPS images from ") + skinSiteDomain() +
        u'.');
  }
}
