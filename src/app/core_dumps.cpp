#include "app/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

bool disableCoreDumps() {
  const rlimit none{0, 0};
  const bool limited = ::setrlimit(RLIMIT_CORE, &none) == 0;
  // Also covers a core_pattern that pipes to a handler, which ignores the size limit.
  const bool undumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  return limited && undumpable;
}
