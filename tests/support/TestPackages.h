#pragma once
// Skin packages for the unit tests, written by skin_packages.py, the builder
// the end-to-end tests and benchmarks use too.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QProcess>
#include <QString>

#include <utility>

namespace testing_support {

/// One entry of a package: its name and its bytes.
using PackageEntry = std::pair<QString, QByteArray>;

/// Writes a .velmora package at `path`: theme.json holding `manifest` (none
/// when it is null), then `entries` in order, deflated. Records a test
/// failure and returns false when the package could not be written.
inline bool writePackage(const QString& path, const QByteArray& manifest,
                         const QList<PackageEntry>& entries) {
  QJsonArray listed;
  for (const auto& [name, bytes] : entries) {
    listed.append(QJsonArray{name, QString::fromLatin1(bytes.toBase64())});
  }
  const QJsonObject request{
      {QStringLiteral("manifest"),
       manifest.isNull() ? QJsonValue() : QJsonValue(QString::fromUtf8(manifest))},
      {QStringLiteral("entries"), listed}};
  QProcess python;
  python.start(QStringLiteral(VELMORA_PYTHON3),
               {QStringLiteral(VELMORA_TEST_SUPPORT_DIR "/skin_packages.py"), path});
  python.write(QJsonDocument(request).toJson(QJsonDocument::Compact));
  python.closeWriteChannel();
  const bool written = python.waitForFinished(-1) && python.exitStatus() == QProcess::NormalExit &&
                       python.exitCode() == 0;
  if (!written) {
    ADD_FAILURE() << "skin_packages.py could not write " << path.toStdString() << ": "
                  << python.readAllStandardError().toStdString();
  }
  return written;
}

}  // namespace testing_support
