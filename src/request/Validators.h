#pragma once
#include <QString>
#include <optional>

#include "base/Limits.h"

/// Defaults shared by links and packages when a field is absent.
inline const QString kDefaultSkinName = QStringLiteral("My Orvane Skin");
inline const QString kDefaultAccent = QStringLiteral("#c5533a");
inline const QString kDefaultSecondary = QStringLiteral("#e28a78");
inline const QString kDefaultHighlight = QStringLiteral("#8a6cff");

/// Cleans a display name: drops every code point of category C, trims white
/// space at both ends, falls back to the default name when nothing is left,
/// and keeps at most 80 grapheme clusters of at most 31 code points each.
/// Never fails; takes time linear in the length of the value.
QString validatedName(const std::optional<QString>& value);

/// Returns the colour lower-cased when it is "#" and exactly six hex digits
/// (`fallback` when absent); throws HelperError invalidRequest otherwise.
QString validatedColor(const std::optional<QString>& value, const QString& fallback);
