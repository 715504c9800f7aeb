// The baseline for the download's memory: the least a Qt program does to
// fetch one HTTPS address with QNetworkAccessManager into a file, writing the
// body as it arrives, with Qt's buffer bounded as the helper bounds it.
//
//   minimal_download URL FILE
#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fputs("usage: minimal_download URL FILE\n", stderr);
    return 2;
  }
  QFile file(QString::fromLocal8Bit(argv[2]));
  if (!file.open(QIODevice::WriteOnly)) return 1;
  QNetworkAccessManager manager;
  QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(QString::fromLocal8Bit(argv[1]))));
  // Qt would otherwise buffer as much of the body as arrives before it is read.
  reply->setReadBufferSize(64 * 1024);
  QObject::connect(reply, &QNetworkReply::readyRead, [&] { file.write(reply->readAll()); });
  QObject::connect(reply, &QNetworkReply::finished, [&] {
    file.write(reply->readAll());
    QCoreApplication::exit(reply->error() == QNetworkReply::NoError ? 0 : 1);
  });
  return QCoreApplication::exec();
}
