#pragma once
// CPU seconds (user + system) used by this process so far, for the benchmarks
// that put our cost beside a peer's.
#include <sys/resource.h>

namespace bench {

inline double CpuSeconds(const rusage& u) {
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double OwnCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

}  // namespace bench
