#pragma once

/// Exit statuses of the helper, whichever front end is showing.
enum ExitStatus : int {
  kExitApplied = 0,    ///< "Skin applied", or the ready alert
  kExitFailed = 1,     ///< a refusal, "Could not apply skin", a failed check, or busy
  kExitUsage = 2,      ///< a usage error, or nothing to do
  kExitCancelled = 3,  ///< the user cancelled the confirmation or the download
};
