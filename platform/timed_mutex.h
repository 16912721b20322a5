#pragma once
// A mutex that can be taken with a time-out.
#include <mutex>

namespace platform {

class TimedMutex {
 public:
  // Returns false when the mutex could not be taken within timeoutMs.
  bool Lock(int timeoutMs);
  void Unlock();

 private:
  std::timed_mutex mutex_;
};

}  // namespace platform
