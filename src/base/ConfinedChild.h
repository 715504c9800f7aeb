#pragma once
#include <sys/types.h>

#include <QByteArray>
#include <QList>
#include <vector>

/// Opens a pipe whose two ends are closed on exec; false (errno set) when it
/// cannot.
bool openPipe(int ends[2]);

/// One descriptor a child is given: the parent's `source` becomes `target`.
struct InheritedDescriptor {
  int source;
  int target;
};

/// A child process started under the confined child's hard limits, holding
/// descriptors 0 to 2 as the parent has them plus the inherited ones, and no
/// other. It is killed and reaped when this object goes, so no child ever
/// outlives the part of the helper that started it.
class ConfinedChild {
 public:
  /// Starts `program` with `arguments` (the first is its argv[0]); throws
  /// PlatformError naming the program when it cannot be started or limited.
  ConfinedChild(const QByteArray& program, const QList<QByteArray>& arguments,
                const std::vector<InheritedDescriptor>& inherited);
  ConfinedChild(const ConfinedChild&) = delete;
  ConfinedChild& operator=(const ConfinedChild&) = delete;
  ~ConfinedChild() { end(); }

  /// Stops the child at once unless it has ended, and reaps it.
  void end() noexcept;
  /// Waits until the child ends by itself and returns its wait status.
  int wait() noexcept;
  /// Whether the child is still to be reaped.
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};
