#include "link/TransferError.h"

#include <curl/curl.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QByteArray>
#include <QUrl>
#include <array>
#include <cstdlib>

namespace {

// OpenSSL's X.509 verification results the words tell apart. libcurl checks
// the name first and leaves its own "not checked yet" mark (1) when the name
// does not match.
constexpr long kNameCheckedFirst = 1;
constexpr long kCertificateNotYetValid = 9;
constexpr long kCertificateExpired = 10;
constexpr long kHostNameMismatch = 62;

QString unverified(const TransferFailure& f) {
  const QString start = QStringLiteral("The secure connection to ") + f.host +
                        QStringLiteral(" could not be verified");
  switch (f.certificateCheck) {
    case 0:  // the chain was trusted, so the name did not match
    case kNameCheckedFirst:
    case kHostNameMismatch:
      return start + QStringLiteral(": its certificate is not for ") + f.host + u'.';
    case kCertificateExpired:
      return start + QStringLiteral(": its certificate has expired.");
    case kCertificateNotYetValid:
      return start +
             QStringLiteral(": its certificate is not valid yet. Check the computer's clock.");
    default:
      return start + QStringLiteral(
                         ": its certificate is not signed by an authority this computer trusts.");
  }
}

QString sentence(const TransferFailure& f) {
  const QString& host = f.host;
  const QString checkConnection = QStringLiteral(" Check the internet connection.");
  if (f.proxyStatus >= 300) {
    return QStringLiteral("The proxy ") + f.proxy + QStringLiteral(" refused to connect to ") +
           host + QStringLiteral(". Check the proxy settings.");
  }
  // Short of memory or files, libcurl cannot tell a resolver or a TLS
  // library that failed for that from one that failed on the network.
  if (f.resourcesShort && f.code != CURLE_PEER_FAILED_VERIFICATION &&
      f.code != CURLE_OPERATION_TIMEDOUT) {
    return resourcesShortText();
  }
  switch (f.code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return host + QStringLiteral(" could not be found.") + checkConnection;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return QStringLiteral("The proxy ") + f.proxy +
             QStringLiteral(" could not be found. Check the proxy settings.");
    case CURLE_COULDNT_CONNECT:
      if (!f.proxy.isEmpty() && f.proxyStatus == 0) {
        return QStringLiteral("The proxy ") + f.proxy +
               QStringLiteral(" could not be reached. Check the proxy settings.");
      }
      return host + QStringLiteral(" could not be reached.") + checkConnection;
    case CURLE_PEER_FAILED_VERIFICATION:
      return unverified(f);
    case CURLE_OPERATION_TIMEDOUT:
      return f.receivedAny
                 ? host + QStringLiteral(" stopped sending the skin image. Try again later.")
                 : host + QStringLiteral(" is not answering. Try again later.");
    case CURLE_OUT_OF_MEMORY:
      return QStringLiteral("There is not enough memory to download the skin image.");
    case CURLE_GOT_NOTHING:
      return host + QStringLiteral(" closed the connection without answering. Try again later.");
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_HTTP2_STREAM:
      return QStringLiteral("The connection to ") + host +
             QStringLiteral(" broke off before the skin image was complete. Try again later.");
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return host + QStringLiteral(" sent an answer that is not valid HTTP.");
    default:
      break;
  }
  if (f.code == CURLE_SSL_CONNECT_ERROR || f.code == CURLE_SSL_CERTPROBLEM ||
      f.code == CURLE_SSL_CIPHER || f.code == CURLE_SSL_CACERT_BADFILE ||
      f.code == CURLE_SSL_ENGINE_INITFAILED || f.code == CURLE_SSL_SHUTDOWN_FAILED ||
      f.code == CURLE_SSL_CRL_BADFILE || f.code == CURLE_SSL_ISSUER_ERROR ||
      f.code == CURLE_SSL_PINNEDPUBKEYNOTMATCH || f.code == CURLE_SSL_INVALIDCERTSTATUS ||
      f.code == CURLE_SSL_CLIENTCERT || f.code == CURLE_USE_SSL_FAILED) {
    return QStringLiteral("A secure connection to ") + host +
           QStringLiteral(" could not be made. Try again later.");
  }
  // Anything else still names the host and, for a bug report, the code.
  return QStringLiteral("The skin image could not be downloaded from ") + host +
         QStringLiteral(" (transfer error %1).").arg(f.code);
}

QByteArray environmentValue(const char* lower, const char* upper) {
  for (const char* name : {lower, upper}) {
    const char* value = std::getenv(name);
    if (value && *value) return QByteArray(value);
  }
  return {};
}

// Whether no_proxy exempts `host`: "*", or a listed name that is the host or
// one of its parent domains (a leading dot is allowed).
bool exempted(const QString& host) {
  const QByteArray list = environmentValue("no_proxy", "NO_PROXY");
  for (QByteArray entry : list.split(',')) {
    entry = entry.trimmed().toLower();
    if (entry.startsWith('.')) entry.remove(0, 1);
    if (entry.isEmpty()) continue;
    if (entry == "*") return true;
    const QString name = QString::fromUtf8(entry);
    if (host == name || host.endsWith(u'.' + name)) return true;
  }
  return false;
}

}  // namespace

QString resourcesShortText() {
  return QStringLiteral(
      "There is not enough memory, or there are too many open files, to "
      "download the skin image. Close some programs and try again.");
}

PlatformError downloadNotStarted() {
  return PlatformError(
      QStringLiteral("The download could not be started: there is not enough "
                     "memory or there are too many open files."));
}

bool resourcesShort() {
  // A resolver thread, a socket pair, a connection and the stored file.
  constexpr int kFilesNeeded = 4;
  constexpr size_t kThreadMemory = 16 << 20;
  std::array<int, kFilesNeeded> files{};
  int opened = 0;
  for (int& file : files) {
    file = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (file < 0) break;
    ++opened;
  }
  for (int i = 0; i < opened; ++i) ::close(files[i]);
  if (opened < kFilesNeeded) return true;
  // Address space only: nothing is touched, so nothing is used.
  void* const memory =
      ::mmap(nullptr, kThreadMemory, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return true;
  ::munmap(memory, kThreadMemory);
  return false;
}

PlatformError transferError(const TransferFailure& failure) {
  return PlatformError(sentence(failure));
}

QString environmentProxyHost(const QString& host) {
  if (exempted(host.toLower())) return {};
  QByteArray proxy = environmentValue("https_proxy", "HTTPS_PROXY");
  if (proxy.isEmpty()) proxy = environmentValue("all_proxy", "ALL_PROXY");
  if (proxy.isEmpty()) return {};
  if (!proxy.contains("://")) proxy.prepend("http://");
  return QUrl::fromEncoded(proxy).host();
}
