#pragma once
// Messages that threads and windows post to each other. A message is a number,
// two integer parameters and at most one owned payload. The payload moves to the
// receiver when a post succeeds and is destroyed on the sender's side otherwise.
#include <cstdint>
#include <memory>
#include <utility>

namespace platform {

constexpr uint32_t WM_USER = 1024;

using ThreadId = uint32_t;      // 0 is never a valid thread id
using WindowHandle = uint64_t;  // 0 is never a valid window handle

// Base of every owned payload; concrete payloads derive from it.
struct Payload {
  virtual ~Payload() = default;
};

// A payload that simply holds one value (text, bytes, frame record, grid copy).
template <class T>
struct ValuePayload : Payload {
  explicit ValuePayload(T v) : value(std::move(v)) {}
  T value;
};

template <class T>
std::unique_ptr<Payload> MakePayload(T value) {
  return std::make_unique<ValuePayload<T>>(std::move(value));
}

struct Message {
  uint32_t id = 0;
  intptr_t wParam = 0;
  intptr_t lParam = 0;
  std::unique_ptr<Payload> payload;

  // Takes the payload out if it holds a T; nullptr otherwise (payload is then kept).
  template <class T>
  std::unique_ptr<ValuePayload<T>> Take() {
    auto* p = dynamic_cast<ValuePayload<T>*>(payload.get());
    if (!p) return nullptr;
    payload.release();
    return std::unique_ptr<ValuePayload<T>>(p);
  }
  template <class T>
  T* Peek() const {
    auto* p = dynamic_cast<ValuePayload<T>*>(payload.get());
    return p ? &p->value : nullptr;
  }
};

inline Message MakeMessage(uint32_t id, intptr_t wParam, intptr_t lParam, std::unique_ptr<Payload> payload) {
  Message msg;
  msg.id = id;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.payload = std::move(payload);
  return msg;
}

// Posts a thread message to the thread with this id. Returns false, and destroys
// the payload, when no such thread (or its queue) exists any more.
bool PostThreadMessage(ThreadId thread, uint32_t id, intptr_t wParam, intptr_t lParam,
                       std::unique_ptr<Payload> payload = nullptr);

// Posts a window message. Returns false, and destroys the payload, when the
// window handle is not (or no longer) registered.
bool PostWindowMessage(WindowHandle window, uint32_t id, intptr_t wParam, intptr_t lParam,
                       std::unique_ptr<Payload> payload = nullptr);

// Whether the window is registered and currently visible. Callable from any thread.
bool IsWindowVisible(WindowHandle window);

}  // namespace platform
