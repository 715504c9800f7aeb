#include "base/Confinement.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <memory>

#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "base/Limits.h"
#include "base/ResourceLimit.h"
#include "base/SystemError.h"

namespace {

// The Landlock rights this code knows, by the ABI version that brought them.
// The system headers of an older kernel may lack the later ones.
constexpr __u64 kWriteRightsV1 = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                                 LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                                 LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                                 LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                                 LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
constexpr __u64 kReferRight = 1ULL << 13;              // ABI 2: link or rename across directories
constexpr __u64 kTruncateRight = 1ULL << 14;           // ABI 3
constexpr __u64 kNetBindTcp = 1ULL << 0;               // ABI 4
constexpr __u64 kNetConnectTcp = 1ULL << 1;            // ABI 4
constexpr __u64 kScopeAbstractUnixSocket = 1ULL << 0;  // ABI 6
constexpr __u64 kScopeSignal = 1ULL << 1;              // ABI 6

// The ruleset attribute as the newest ABI known here lays it out; older
// kernels are given only the prefix they know.
struct RulesetAttributes {
  __u64 handledAccessFs;
  __u64 handledAccessNet;
  __u64 scoped;
};

struct PathBeneath {
  __u64 allowedAccess;
  __s32 parentFd;
} __attribute__((packed));

int landlockAbi() {
  const long abi =
      ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

[[noreturn]] void fail(const char* what, int errorNumber) {
  throw PlatformError(systemErrorText(QString::fromUtf8(what), errorNumber));
}

// Write rights are handled (denied by default) and granted beneath
// `directory` alone, or nowhere when it is empty; reading stays as it is,
// since the reader needs the system's libraries and the zip tool.
void restrictWrites(const QByteArray& directory, int abi) {
  __u64 writeRights = kWriteRightsV1;
  if (abi >= 2) writeRights |= kReferRight;
  if (abi >= 3) writeRights |= kTruncateRight;
  RulesetAttributes attributes{writeRights, 0, 0};
  size_t size = sizeof(__u64);
  if (abi >= 4) {
    // No TCP at all, on top of the socket ban below.
    attributes.handledAccessNet = kNetBindTcp | kNetConnectTcp;
    size = 2 * sizeof(__u64);
  }
  if (abi >= 6) {
    attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    size = sizeof(RulesetAttributes);
  }
  const FileDescriptor ruleset(
      static_cast<int>(::syscall(__NR_landlock_create_ruleset, &attributes, size, 0)));
  if (ruleset.get() < 0) fail("landlock", errno);
  if (!directory.isEmpty()) {
    const FileDescriptor beneath(::open(directory.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (beneath.get() < 0) fail(directory.constData(), errno);
    const PathBeneath rule{writeRights, beneath.get()};
    if (::syscall(__NR_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) !=
        0) {
      fail("landlock", errno);
    }
  }
  if (::syscall(__NR_landlock_restrict_self, ruleset.get(), 0) != 0) fail("landlock", errno);
}

struct FilterDeleter {
  void operator()(scmp_filter_ctx filter) const { seccomp_release(filter); }
};

// Everything is allowed but what a file parser never needs: sockets,
// tracing, namespaces, mounts, kernel keys and modules, io_uring (whose
// operations no filter sees), and pushing input into the terminal.
void forbidEscapes() {
  std::unique_ptr<void, FilterDeleter> filter(seccomp_init(SCMP_ACT_ALLOW));
  if (!filter) fail("seccomp", ENOMEM);
  const uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
  const int forbidden[] = {
      SCMP_SYS(socket),
      SCMP_SYS(ptrace),
      SCMP_SYS(process_vm_readv),
      SCMP_SYS(process_vm_writev),
      SCMP_SYS(unshare),
      SCMP_SYS(setns),
      SCMP_SYS(mount),
      SCMP_SYS(umount2),
      SCMP_SYS(pivot_root),
      SCMP_SYS(chroot),
      SCMP_SYS(move_mount),
      SCMP_SYS(open_tree),
      SCMP_SYS(fsopen),
      SCMP_SYS(fsmount),
      SCMP_SYS(fspick),
      SCMP_SYS(fsconfig),
      SCMP_SYS(mount_setattr),
      SCMP_SYS(keyctl),
      SCMP_SYS(add_key),
      SCMP_SYS(request_key),
      SCMP_SYS(bpf),
      SCMP_SYS(perf_event_open),
      SCMP_SYS(userfaultfd),
      SCMP_SYS(io_uring_setup),
      SCMP_SYS(io_uring_enter),
      SCMP_SYS(io_uring_register),
      SCMP_SYS(kexec_load),
      SCMP_SYS(kexec_file_load),
      SCMP_SYS(init_module),
      SCMP_SYS(finit_module),
      SCMP_SYS(delete_module),
      SCMP_SYS(open_by_handle_at),
      SCMP_SYS(personality),
      SCMP_SYS(swapon),
      SCMP_SYS(swapoff),
      SCMP_SYS(reboot),
      SCMP_SYS(syslog),
      SCMP_SYS(acct),
      SCMP_SYS(quotactl),
      SCMP_SYS(iopl),
      SCMP_SYS(ioperm),
      SCMP_SYS(fanotify_init),
  };
  for (const int call : forbidden) {
    if (seccomp_rule_add(filter.get(), refuse, call, 0) != 0) fail("seccomp", EINVAL);
  }
  // clone3 passes its flags in memory a filter cannot read: the C library
  // falls back to clone, whose flags it can.
  if (seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) != 0) {
    fail("seccomp", EINVAL);
  }
  for (const scmp_datum_t flag :
       {scmp_datum_t(CLONE_NEWUSER), scmp_datum_t(CLONE_NEWNS), scmp_datum_t(CLONE_NEWNET),
        scmp_datum_t(CLONE_NEWPID), scmp_datum_t(CLONE_NEWIPC), scmp_datum_t(CLONE_NEWUTS),
        scmp_datum_t(CLONE_NEWCGROUP)}) {
    if (seccomp_rule_add(filter.get(), refuse, SCMP_SYS(clone), 1,
                         SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) != 0) {
      fail("seccomp", EINVAL);
    }
  }
  for (const scmp_datum_t request : {scmp_datum_t(TIOCSTI), scmp_datum_t(TIOCLINUX)}) {
    if (seccomp_rule_add(filter.get(), refuse, SCMP_SYS(ioctl), 1,
                         SCMP_A1(SCMP_CMP_MASKED_EQ, 0xffffffffU, request)) != 0) {
      fail("seccomp", EINVAL);
    }
  }
  if (const int result = seccomp_load(filter.get()); result != 0) fail("seccomp", -result);
}

bool seccompAvailable() {
  return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0;
}

}  // namespace

bool limitConfinedChild() noexcept {
#ifdef VELMORA_SANITIZED
  bool all = true;
#else
  bool all = lowerLimit(RLIMIT_AS, kReaderAddressSpaceBytes);
#endif
  // Past the soft limit the kernel sends SIGXCPU, a second later SIGKILL.
  struct rlimit cpu {};
  if (::getrlimit(RLIMIT_CPU, &cpu) == 0) {
    const rlim_t most = cpu.rlim_max == RLIM_INFINITY
                            ? rlim_t(kReaderCpuSeconds)
                            : std::min(cpu.rlim_max, rlim_t(kReaderCpuSeconds));
    cpu.rlim_cur = most;
    cpu.rlim_max = most == rlim_t(kReaderCpuSeconds) ? most + 1 : most;
    all = ::setrlimit(RLIMIT_CPU, &cpu) == 0 && all;
  }
  all = lowerLimit(RLIMIT_NOFILE, kReaderOpenFiles) && all;
  all = lowerLimit(RLIMIT_FSIZE, kReaderFileBytes) && all;
  all = lowerLimit(RLIMIT_CORE, 0) && all;
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && all;
}

void confineProcess(const QByteArray& writableDirectory) {
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) fail("no_new_privs", errno);
  // A kernel without Landlock still gets the system-call filter and the limits.
  if (const int abi = landlockAbi(); abi > 0) restrictWrites(writableDirectory, abi);
  forbidEscapes();
}

void stopWriting() {
  if (const int abi = landlockAbi(); abi > 0) restrictWrites(QByteArray(), abi);
}

QString confinementSummary() {
  QStringList parts;
  if (const int abi = landlockAbi(); abi > 0) parts.append(QStringLiteral("landlock %1").arg(abi));
  if (seccompAvailable()) parts.append(QStringLiteral("seccomp"));
  parts.append(QStringLiteral("limits"));
  return parts.join(QStringLiteral(", "));
}

void endWithParent(pid_t parent) noexcept {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  // The parent may have gone before the request was made.
  if (::getppid() != parent) ::_exit(127);
}

void closeDescriptorsFrom(int first) noexcept {
  if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
  // Kernels before 5.9: close them one by one.
  const long most = ::sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (most > 0 ? most : 1024); ++fd) ::close(static_cast<int>(fd));
}
