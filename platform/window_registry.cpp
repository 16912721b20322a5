#include "platform/window_registry.h"

#include <chrono>
#include <unordered_map>

#include "platform/message_thread.h"

namespace platform {

namespace {

// Handle -> target. The mutex is held across Deliver() so that UnregisterWindow()
// can promise that no delivery is running once it returns. Leaked on purpose so
// that late posts during process exit never meet a destroyed map.
struct WindowRegistry {
  std::mutex mutex;
  std::unordered_map<WindowHandle, WindowTarget*> targets;
  WindowHandle nextHandle = 1;
};

WindowRegistry& Windows() {
  static WindowRegistry* registry = new WindowRegistry;
  return *registry;
}

}  // namespace

WindowHandle RegisterWindow(WindowTarget* target) {
  if (!target) return 0;
  WindowRegistry& reg = Windows();
  std::lock_guard<std::mutex> lock(reg.mutex);
  const WindowHandle handle = reg.nextHandle++;
  reg.targets[handle] = target;
  return handle;
}

void UnregisterWindow(WindowHandle handle) {
  WindowRegistry& reg = Windows();
  std::lock_guard<std::mutex> lock(reg.mutex);
  reg.targets.erase(handle);
}

bool PostWindowMessage(WindowHandle window, uint32_t id, intptr_t wParam, intptr_t lParam,
                       std::unique_ptr<Payload> payload) {
  Message msg = MakeMessage(id, wParam, lParam, std::move(payload));
  WindowRegistry& reg = Windows();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.targets.find(window);
  if (it == reg.targets.end()) return false;  // msg (and its payload) dies here
  return it->second->Deliver(std::move(msg));
}

bool IsWindowVisible(WindowHandle window) {
  WindowRegistry& reg = Windows();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.targets.find(window);
  return it != reg.targets.end() && it->second->Visible();
}

bool ThreadWindowTarget::Deliver(Message&& msg) {
  return PostThreadMessage(thread_, msg.id, msg.wParam, msg.lParam, std::move(msg.payload));
}

bool CollectingWindowTarget::Deliver(Message&& msg) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(msg));
  }
  cv_.notify_all();
  return true;
}

std::vector<Message> CollectingWindowTarget::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Message> out;
  out.swap(messages_);
  return out;
}

size_t CollectingWindowTarget::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

bool CollectingWindowTarget::WaitForCount(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto enough = [&] { return messages_.size() >= n; };
  if (timeoutMs < 0) {
    cv_.wait(lock, enough);
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), enough);
}

}  // namespace platform
