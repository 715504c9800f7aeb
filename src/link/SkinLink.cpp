#include "link/SkinLink.h"

#include <QRegularExpression>

#include "base/HelperError.h"
#include "base/HexDigits.h"
#include "link/HostPolicy.h"
#include "link/LinkQuery.h"
#include "request/Validators.h"

namespace {

struct LinkParts {
  QString authority;  // null when the link has no "//"
  QString query;      // null when the link has no "?"
};

// Splits a URI reference into its components (RFC 3986, appendix B).
LinkParts splitLink(const QString& link) {
  static const QRegularExpression pattern(
      QStringLiteral(R"(\A(?:([^:/?#]+):)?(?://([^/?#]*))?([^?#]*)(?:\?([^#]*))?(?:#(.*))?\z)"),
      QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpressionMatch match = pattern.match(link);
  LinkParts parts;
  if (!match.hasMatch()) return parts;
  if (match.capturedStart(2) >= 0) parts.authority = match.captured(2);
  if (match.capturedStart(4) >= 0) parts.query = match.captured(4);
  return parts;
}

QString hostOf(const QString& authority) {
  QString host = authority.mid(authority.lastIndexOf(u'@') + 1);
  if (!host.startsWith(u'[')) {
    const qsizetype colon = host.indexOf(u':');
    if (colon >= 0) host.truncate(colon);
  }
  return host;
}

// A link is well formed when every "%" starts an escape of two hex digits and
// it holds only characters a URI may hold, or characters a desktop opener
// writes in place of their escape. KDE's opener hands the link on as Qt prints
// a URL: "%20" as a space and each escaped UTF-8 sequence as its character
// (C1 controls too), while "%", delimiters such as "&", "=", "#" and "+",
// ASCII controls and invalid UTF-8 stay escaped. A space or a non-ASCII
// character is therefore read as the escape it stands for, which gives the
// value of the link that was clicked and no value an escape could not give.
// ASCII controls, DEL and the characters a URI excludes are refused: no
// opener passes them.
bool isWellFormed(const QString& link) {
  static const QString excluded = QStringLiteral("\"<>\\^`{|}");
  for (qsizetype i = 0; i < link.size(); ++i) {
    const char16_t c = link.at(i).unicode();
    if (c < 0x20 || c == 0x7F || excluded.contains(QChar(c))) return false;
    if (c == u'%' &&
        !(i + 2 < link.size() && isHexDigit(link.at(i + 1)) && isHexDigit(link.at(i + 2)))) {
      return false;
    }
  }
  return true;
}

std::optional<QString> item(const QHash<QString, QString>& query, const QString& name) {
  const auto found = query.constFind(name);
  if (found == query.constEnd()) return std::nullopt;
  return *found;
}

}  // namespace

QString uriScheme(const QString& input) {
  static const QRegularExpression scheme(QStringLiteral(R"(\A[A-Za-z][A-Za-z0-9+.\-]*(?=:))"));
  return scheme.match(input).captured(0);
}

SkinRequest requestFromLink(const QString& link) {
  const LinkParts parts = splitLink(link);
  if (parts.authority.isNull() || hostOf(parts.authority).toLower() != u"apply") {
    refuse("Unsupported Velmora action.");
  }
  if (!isWellFormed(link)) refuse("The skin link is invalid.");

  const QHash<QString, QString> query = readLinkQuery(parts.query);

  const std::optional<QString> imageText = item(query, QStringLiteral("image"));
  // The parsed address is kept and used for both the host check and the
  // download, so no second parser can read the text differently.
  const QUrl image(imageText.value_or(QString()), QUrl::StrictMode);
  if (!imageText || imageText->isEmpty() || !image.isValid()) {
    refuse("The skin link has no valid image.");
  }
  validateRemoteImageURL(image);

  SkinRequest request;
  request.image = image;
  request.name = validatedName(item(query, QStringLiteral("name")));
  request.accent = validatedColor(item(query, QStringLiteral("accent")), kDefaultAccent);
  request.secondary = validatedColor(item(query, QStringLiteral("secondary")), kDefaultSecondary);
  request.highlight = validatedColor(item(query, QStringLiteral("highlight")), kDefaultHighlight);
  return request;
}
