#include "platform/process_init.h"

#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>

long ProcessStartup() {
  signal(SIGPIPE, SIG_IGN);
  // Every stream takes buffers of 1-2 MB and gives them back when it ends.
  // With a fixed threshold they are always mapped on their own and returned
  // to the system when freed; the allocator's default raises the threshold
  // after the first such free and then keeps them in per-thread heaps, so a
  // fleet that runs for hours grows by whatever its busiest moment needed.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return -1;
  if (lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
    getrlimit(RLIMIT_NOFILE, &lim);
  }
  return static_cast<long>(lim.rlim_cur);
}
