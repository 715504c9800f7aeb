#include "flow/TransferText.h"

namespace {

QString mebibytes(qint64 bytes) {
  return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1) +
         QStringLiteral(" MiB");
}

}  // namespace

QString receivedText(qint64 received, qint64 total) {
  QString text = mebibytes(received);
  if (total > 0) text += QStringLiteral(" of ") + mebibytes(total);
  return text;
}
