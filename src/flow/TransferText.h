#pragma once
#include <QString>

/// How much of an image has arrived, for people: "1.2 MiB of 3.4 MiB", or
/// "1.2 MiB" while the total is unknown (-1).
QString receivedText(qint64 received, qint64 total);
