#include "player/thread_registry.h"

#include <algorithm>

#include "player/messages.h"

namespace player {

CThreadRegistry& CThreadRegistry::Instance() {
  // Kept to the very end of the process: threads may still remove themselves then.
  static CThreadRegistry* registry = new CThreadRegistry;
  return *registry;
}

bool CThreadRegistry::Add(platform::ThreadId id, platform::ThreadHandlePtr handle, int group) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  entries_.push_back({std::move(handle), id, group});
  return true;
}

void CThreadRegistry::Remove(platform::ThreadId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
  if (it != entries_.end()) entries_.erase(it);
}

size_t CThreadRegistry::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void CThreadRegistry::StopAll(int waitMs) {
  std::vector<Entry> entries;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    entries = entries_;
  }
  // Highest group first; threads of one group keep their order.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.group > b.group; });
  for (size_t first = 0; first < entries.size();) {
    size_t end = first;
    while (end < entries.size() && entries[end].group == entries[first].group) ++end;
    for (size_t i = first; i < end; ++i) platform::Post<to_video_thread::VT_CLOSE>(entries[i].id, 1);
    for (size_t i = first; i < end; ++i)
      if (entries[i].handle) entries[i].handle->Wait(waitMs);
    first = end;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // Threads that ended meanwhile could not remove themselves.
  std::erase_if(entries_, [](const Entry& e) { return !e.handle || e.handle->Finished(); });
  stopping_ = false;
}

}  // namespace player
