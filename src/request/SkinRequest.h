#pragma once
#include <QString>
#include <QUrl>

/// One skin to apply: what both inputs end as, and what the engine receives.
struct SkinRequest {
  QString name;       ///< cleaned display name, 1 to 80 grapheme clusters
  QUrl image;         ///< remote https address (link, before download) or local file URL
  QString accent;     ///< "#" + six lower-case hex digits
  QString secondary;  ///< as accent
  QString highlight;  ///< as accent

  bool operator==(const SkinRequest&) const = default;
};
