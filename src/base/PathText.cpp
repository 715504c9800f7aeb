#include "base/PathText.h"

QString lastPathComponent(const QString& path) {
  qsizetype end = path.size();
  while (end > 1 && path.at(end - 1) == u'/') --end;
  if (end == 1 && path.at(0) == u'/') return QStringLiteral("/");
  const qsizetype slash = path.lastIndexOf(u'/', end - 1);
  return path.mid(slash + 1, end - slash - 1);
}

QString pathExtension(const QString& path) {
  const QString last = lastPathComponent(path);
  const qsizetype dot = last.lastIndexOf(u'.');
  return dot < 0 ? QString() : last.mid(dot + 1);
}
