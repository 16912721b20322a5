#pragma once
// Messages that threads and windows post to each other. A message is a number,
// two integer parameters and at most one owned payload. The payload moves to the
// receiver when a post succeeds and is destroyed on the sender's side otherwise.
#include <cstdint>
#include <memory>
#include <type_traits>
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

// Typed messages. A tag names one message as one kind of receiver understands it:
// its number, whether it goes to a thread or a window, and the type of its payload
// (void for none). Tags are grouped by receiver because the same number means
// different things to different receivers. Posting or taking a payload of another
// type than the tag's does not build.
enum class Receiver { Thread, Window };

template <uint32_t Number, Receiver To, class PayloadT = void>
struct MessageTag {
  static constexpr uint32_t kNumber = Number;
  static constexpr Receiver kReceiver = To;
  using PayloadType = PayloadT;
  using Target = std::conditional_t<To == Receiver::Thread, ThreadId, WindowHandle>;
};
template <uint32_t Number, class PayloadT = void>
using ThreadMessage = MessageTag<Number, Receiver::Thread, PayloadT>;
template <uint32_t Number, class PayloadT = void>
using WindowMessage = MessageTag<Number, Receiver::Window, PayloadT>;

// True when no two of the tags share a number: list every tag one receiver
// handles and check it with static_assert, since a handler that compares numbers
// would take one message for the other.
template <class... Tags>
constexpr bool DistinctNumbers() {
  constexpr uint32_t numbers[] = {Tags::kNumber...};
  for (size_t i = 0; i < sizeof...(Tags); ++i)
    for (size_t j = i + 1; j < sizeof...(Tags); ++j)
      if (numbers[i] == numbers[j]) return false;
  return true;
}

namespace detail {
template <class Tag>
bool PostTagged(typename Tag::Target to, intptr_t wParam, intptr_t lParam, std::unique_ptr<Payload> payload) {
  if constexpr (Tag::kReceiver == Receiver::Thread)
    return PostThreadMessage(to, Tag::kNumber, wParam, lParam, std::move(payload));
  else
    return PostWindowMessage(to, Tag::kNumber, wParam, lParam, std::move(payload));
}
}  // namespace detail

// Posts the message without a payload (allowed for every tag: a payload is optional).
template <class Tag>
bool Post(typename Tag::Target to, intptr_t wParam = 0, intptr_t lParam = 0) {
  return detail::PostTagged<Tag>(to, wParam, lParam, nullptr);
}
// Posts the message with its payload; on failure the payload is destroyed here.
template <class Tag>
  requires(!std::is_void_v<typename Tag::PayloadType>)
bool Post(typename Tag::Target to, intptr_t wParam, intptr_t lParam, typename Tag::PayloadType payload) {
  return detail::PostTagged<Tag>(to, wParam, lParam, MakePayload(std::move(payload)));
}
template <class Tag>
  requires(!std::is_void_v<typename Tag::PayloadType>)
bool Post(typename Tag::Target to, typename Tag::PayloadType payload) {
  return detail::PostTagged<Tag>(to, 0, 0, MakePayload(std::move(payload)));
}

// Whether a received message is this tag's message.
template <class Tag>
bool Is(const Message& msg) {
  return msg.id == Tag::kNumber;
}
// Moves the payload out of a message of this tag; a default value when the message
// is another one or carries no payload of the tag's type.
template <class Tag>
  requires(!std::is_void_v<typename Tag::PayloadType>)
typename Tag::PayloadType Take(Message& msg) {
  using T = typename Tag::PayloadType;
  if (msg.id != Tag::kNumber) return T{};
  auto p = msg.Take<T>();
  return p ? std::move(p->value) : T{};
}
// The payload of a message of this tag without taking it; nullptr when absent.
template <class Tag>
  requires(!std::is_void_v<typename Tag::PayloadType>)
const typename Tag::PayloadType* Peek(const Message& msg) {
  if (msg.id != Tag::kNumber) return nullptr;
  return msg.Peek<typename Tag::PayloadType>();
}

}  // namespace platform
