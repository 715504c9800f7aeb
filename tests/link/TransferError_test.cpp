// The sentences for failed transfers: one per kind of failure, naming the
// host (or the proxy) and what the user can do.
#include "link/TransferError.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace {

TransferFailure failure(int code, const char* proxy = "", long proxyStatus = 0,
                        long certificateCheck = 0, bool receivedAny = false) {
  TransferFailure f;
  f.code = code;
  f.host = QStringLiteral("velmora.app");
  f.proxy = QString::fromUtf8(proxy);
  f.proxyStatus = proxyStatus;
  f.certificateCheck = certificateCheck;
  f.receivedAny = receivedAny;
  return f;
}

TEST(TransferError, SaysWhatFailedAndWhere) {
  const struct {
    const char* what;
    TransferFailure failure;
    const char* sentence;
  } cases[] = {
      {"unknown host", failure(CURLE_COULDNT_RESOLVE_HOST),
       "velmora.app could not be found. Check the internet connection."},
      {"unknown proxy", failure(CURLE_COULDNT_RESOLVE_PROXY, "proxy.lan"),
       "The proxy proxy.lan could not be found. Check the proxy settings."},
      {"nobody listening", failure(CURLE_COULDNT_CONNECT),
       "velmora.app could not be reached. Check the internet connection."},
      {"proxy not listening", failure(CURLE_COULDNT_CONNECT, "proxy.lan"),
       "The proxy proxy.lan could not be reached. Check the proxy settings."},
      {"proxy refusing the tunnel", failure(CURLE_RECV_ERROR, "proxy.lan", 403),
       "The proxy proxy.lan refused to connect to velmora.app. Check the proxy settings."},
      {"name mismatch", failure(CURLE_PEER_FAILED_VERIFICATION, "", 0, 0),
       "The secure connection to velmora.app could not be verified: its certificate is not for "
       "velmora.app."},
      {"name mismatch, found by libcurl", failure(CURLE_PEER_FAILED_VERIFICATION, "", 0, 1),
       "The secure connection to velmora.app could not be verified: its certificate is not for "
       "velmora.app."},
      {"name mismatch, found by OpenSSL", failure(CURLE_PEER_FAILED_VERIFICATION, "", 0, 62),
       "The secure connection to velmora.app could not be verified: its certificate is not for "
       "velmora.app."},
      {"expired", failure(CURLE_PEER_FAILED_VERIFICATION, "", 0, 10),
       "The secure connection to velmora.app could not be verified: its certificate has "
       "expired."},
      {"unknown issuer", failure(CURLE_PEER_FAILED_VERIFICATION, "", 0, 20),
       "The secure connection to velmora.app could not be verified: its certificate is not "
       "signed by an authority this computer trusts."},
      {"handshake failure", failure(CURLE_SSL_CONNECT_ERROR),
       "A secure connection to velmora.app could not be made. Try again later."},
      {"silent server", failure(CURLE_OPERATION_TIMEDOUT),
       "velmora.app is not answering. Try again later."},
      {"stalled body", failure(CURLE_OPERATION_TIMEDOUT, "", 0, 0, true),
       "velmora.app stopped sending the skin image. Try again later."},
      {"short of memory or files",
       [] {
         TransferFailure f = failure(CURLE_COULDNT_RESOLVE_HOST);
         f.resourcesShort = true;
         return f;
       }(),
       "There is not enough memory, or there are too many open files, to download the skin "
       "image. Close some programs and try again."},
      {"anything else", failure(CURLE_FTP_WEIRD_PASV_REPLY),
       "The skin image could not be downloaded from velmora.app (transfer error 13)."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(transferError(c.failure).localizedDescription(), QString::fromUtf8(c.sentence))
        << c.what;
  }
}

}  // namespace
