#pragma once
#include <QString>

#include "base/HelperError.h"

/// What is known about a transfer that libcurl ended with an error.
struct TransferFailure {
  /// libcurl's result code (CURLcode).
  int code = 0;
  /// The host of the address being fetched, as the user knows it.
  QString host;
  /// The host of the proxy the transfer went through; empty when none.
  QString proxy;
  /// The proxy's status answer to the tunnel request; 0 when there was none.
  long proxyStatus = 0;
  /// The result of the server certificate's chain check (an X.509
  /// verification code, 0 when the chain was trusted).
  long certificateCheck = 0;
  /// Whether any byte of a response arrived before the failure.
  bool receivedAny = false;
  /// Whether the process was short of memory or of open files just after
  /// the failure, which then likely came from that.
  bool resourcesShort = false;
};

/// The sentence the user reads for a failed transfer: what happened, to
/// which host, and what they can do. Never libcurl's own words.
PlatformError transferError(const TransferFailure& failure);

/// What the user reads when a transfer failed for want of memory or files.
QString resourcesShortText();

/// A download that could not even be set up: no handle, no option, no
/// library, for want of memory or files.
PlatformError downloadNotStarted();

/// Whether this process could not now open a few more files or map a
/// thread's worth of memory: what a transfer needs besides the network.
bool resourcesShort();

/// The host of the proxy libcurl takes from the environment for an https
/// address on `host` (https_proxy, then all_proxy, either case, unless
/// no_proxy names the host); empty when it goes direct. Used for the words
/// of an error only: libcurl itself chooses the proxy.
QString environmentProxyHost(const QString& host);
