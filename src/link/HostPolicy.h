#pragma once
#include <QSet>
#include <QString>
#include <QUrl>

/// The skin website's domain, as the helper was built with it.
QString skinSiteDomain();

/// The two hosts images may come from: the skin site's domain and www. + it.
/// Built once, safely from any thread.
const QSet<QString>& allowedImageHosts();

/// Returns when `url` is https on one of allowedImageHosts(); otherwise throws
/// HelperError invalidRequest naming the site. Safe from any thread.
void validateRemoteImageURL(const QUrl& url);
