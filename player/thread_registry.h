#pragma once
// The threads of the program that must be stopped, in order, before it ends.
// Each registers under a group; stop-all closes the highest group first and
// waits for its threads before the next group.
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/message_thread.h"

namespace player {

class CThreadRegistry {
 public:
  // The one registry of the process.
  static CThreadRegistry& Instance();

  // Refused (false) while a stop-all runs.
  bool Add(platform::ThreadId id, platform::ThreadHandlePtr handle, int group);
  // Forgets the first entry with this id; does nothing while a stop-all runs (it
  // forgets the threads it stopped itself).
  void Remove(platform::ThreadId id);
  // Posts VT_CLOSE (wParam 1) to every thread of the highest group, waits for each
  // of them in turn (at most waitMs each), then goes on with the next lower group.
  // Threads of one group are closed in the order they registered. A second
  // stop-all while one runs returns at once.
  void StopAll(int waitMs = 25000);
  size_t Count() const;

 private:
  struct Entry {
    platform::ThreadHandlePtr handle;
    platform::ThreadId id;
    int group;
  };
  // Held only to read or change the list, never while waiting for threads, so a
  // thread that ends during a stop-all is never kept waiting for it.
  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::vector<Entry> entries_;
};

}  // namespace player
