#include "package/PackageReader.h"

#include "base/FreshDirectory.h"
#include "package/PackageManifest.h"
#include "package/PackageVetting.h"
#ifdef __APPLE__
#include "engine/ProcessRunner.h"
#else
#include "package/ZipExtractor.h"
#endif

SkinRequest readPackage(const QString& packagePath) {
  inspectPackage(packagePath);
  const QString directory = createFreshDirectory();
#ifdef __APPLE__
  runProcess(QStringLiteral("/usr/bin/ditto"),
             {QStringLiteral("-x"), QStringLiteral("-k"), packagePath, directory}, false);
#else
  extractZip(packagePath, directory);
#endif
  return readManifest(directory);
}
