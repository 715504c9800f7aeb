#pragma once
#include <QByteArrayView>
#include <optional>

/// Reads a Content-Length value as the helper understands it: an optional
/// single '+' or '-', then one or more ASCII digits and nothing else, fitting
/// a signed 64-bit integer. Returns nothing for any other value.
std::optional<qint64> readContentLength(QByteArrayView value);
