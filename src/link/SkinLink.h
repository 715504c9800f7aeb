#pragma once
#include <QString>

#include "request/SkinRequest.h"

/// Turns a velmora link into a request whose image is still the remote
/// address: action, link syntax, query, image policy, name and colours, in
/// that order. Throws HelperError invalidRequest with the first refusal.
SkinRequest requestFromLink(const QString& link);

/// The scheme of `input` when it begins with one (ALPHA *(ALPHA / DIGIT / "+" / "-" / ".") ":"),
/// else an empty string.
QString uriScheme(const QString& input);
