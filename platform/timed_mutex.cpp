#include "platform/timed_mutex.h"

#include <chrono>

namespace platform {

bool TimedMutex::Lock(int timeoutMs) {
  if (timeoutMs < 0) {
    mutex_.lock();
    return true;
  }
  return mutex_.try_lock_for(std::chrono::milliseconds(timeoutMs));
}

void TimedMutex::Unlock() { mutex_.unlock(); }

}  // namespace platform
