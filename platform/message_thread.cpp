#include "platform/message_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

using TimePoint = LoopClock::TimePoint;

// The queue of one thread. Posters and the owning thread meet only here; the
// mutex guards the message list and the open/resumed flags.
struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable resumeCv;
  std::deque<Message> messages;
  int wakeFd = -1;
  bool open = true;
  bool resumed = false;

  ~ThreadQueue() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  // Queues the message; false (message left with the caller) when the queue is closed.
  bool Push(Message& msg) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open) return false;
    messages.push_back(std::move(msg));
    // Every post signals: the loop resets the counter before it takes its snapshot,
    // so a post that lands after the snapshot always leaves the eventfd readable.
    const uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd, &one, sizeof one);
    (void)ignored;
    return true;
  }

  bool Pop(Message& out) {
    std::lock_guard<std::mutex> lock(mutex);
    if (messages.empty()) return false;
    out = std::move(messages.front());
    messages.pop_front();
    return true;
  }

  size_t Size() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages.size();
  }

  bool Holds(uint32_t id, uint32_t otherId) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(messages.begin(), messages.end(),
                       [&](const Message& m) { return m.id == id || m.id == otherId; });
  }

  void ResetWake() {
    uint64_t value = 0;
    ssize_t ignored = ::read(wakeFd, &value, sizeof value);
    (void)ignored;
  }
};

// Thread id -> queue. Leaked on purpose so that threads still running while the
// process exits never meet a destroyed registry.
struct ThreadRegistry {
  std::mutex mutex;
  std::unordered_map<ThreadId, std::shared_ptr<ThreadQueue>> queues;
  ThreadId nextId = 1;
};

ThreadRegistry& Registry() {
  static ThreadRegistry* registry = new ThreadRegistry;
  return *registry;
}

std::shared_ptr<ThreadQueue> FindQueue(ThreadId id) {
  ThreadRegistry& reg = Registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.queues.find(id);
  return it == reg.queues.end() ? nullptr : it->second;
}

std::atomic<uint32_t> g_nextTimerId{1};

uint32_t NewTimerId() {
  uint32_t id;
  do {
    id = g_nextTimerId.fetch_add(1);
  } while (id == 0);  // skip 0 after a wrap
  return id;
}

}  // namespace

bool PostThreadMessage(ThreadId thread, uint32_t id, intptr_t wParam, intptr_t lParam,
                       std::unique_ptr<Payload> payload) {
  Message msg = MakeMessage(id, wParam, lParam, std::move(payload));
  std::shared_ptr<ThreadQueue> queue = FindQueue(thread);
  // On failure msg still owns the payload and destroys it here, on the sender's side.
  return queue && queue->Push(msg);
}

// ---------------------------------------------------------------- thread objects

namespace {

// The std::thread of every message thread started, with its handle, until joined.
// At exit the threads left over (still running) are detached, never joined.
struct StartedThreads {
  std::mutex mutex;
  std::vector<std::pair<std::weak_ptr<ThreadHandle>, std::thread>> threads;
  ~StartedThreads() {
    for (auto& t : threads)
      if (t.second.joinable()) t.second.detach();
  }
};

StartedThreads& Started() {
  static StartedThreads* started = new StartedThreads;  // outlives every static destructor
  return *started;
}

}  // namespace

size_t JoinFinishedThreads() {
  std::vector<std::thread> finished;
  {
    StartedThreads& st = Started();
    std::lock_guard<std::mutex> lock(st.mutex);
    for (auto it = st.threads.begin(); it != st.threads.end();) {
      const ThreadHandlePtr handle = it->first.lock();
      if (!handle || handle->Finished()) {
        finished.push_back(std::move(it->second));
        it = st.threads.erase(it);
      } else {
        ++it;
      }
    }
  }
  size_t joined = 0;
  for (std::thread& t : finished) {
    // A finished loop's thread only runs its thread-local clean-up: a short wait.
    if (t.joinable() && t.get_id() != std::this_thread::get_id()) {
      t.join();
      ++joined;
    } else if (t.joinable()) {
      t.detach();
    }
  }
  return joined;
}

// ---------------------------------------------------------------- ThreadHandle

bool ThreadHandle::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs < 0) {
    cv_.wait(lock, [this] { return finished_; });
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_; });
}

bool ThreadHandle::Finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

void ThreadHandle::MarkFinished(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    exitCode_ = exitCode;
  }
  cv_.notify_all();
}

int ThreadHandle::ExitCode() {
  std::lock_guard<std::mutex> lock(mutex_);
  return exitCode_;
}

// --------------------------------------------------------------- MessageThread

struct MessageThread::Impl {
  struct Watch {
    short events = 0;
    uint64_t generation = 0;
  };
  std::shared_ptr<ThreadQueue> queue;
  std::map<uint32_t, TimePoint> timers;
  std::map<int, Watch> sockets;
  uint64_t nextGeneration = 1;
  bool quit = false;
};

struct ThreadQueueAccess {
  static void Run(std::unique_ptr<MessageThread> thread) {
    std::shared_ptr<ThreadQueue> queue = thread->impl_->queue;
    {
      std::unique_lock<std::mutex> lock(queue->mutex);
      queue->resumeCv.wait(lock, [&] { return queue->resumed; });
    }
    std::weak_ptr<ThreadQueue> weakQueue = queue;
    const std::shared_ptr<LoopClock> clock = thread->clock_;
    const void* loop = thread.get();
    clock->Attach(loop, [weakQueue] {
      if (auto q = weakQueue.lock()) {
        const uint64_t one = 1;
        ssize_t ignored = ::write(q->wakeFd, &one, sizeof one);
        (void)ignored;
      }
    });
    thread->Run();
    clock->Detach(loop);
    const int code = thread->exitCode_;
    ThreadHandlePtr handle = thread->handle_;
    const ThreadId id = thread->id_;

    // Unregister first: from here on posts fail and the sender keeps (destroys) its payload.
    {
      ThreadRegistry& reg = Registry();
      std::lock_guard<std::mutex> lock(reg.mutex);
      reg.queues.erase(id);
    }
    std::deque<Message> leftover;
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      queue->open = false;
      leftover.swap(queue->messages);
    }
    leftover.clear();  // payloads nobody will handle
    thread.reset();    // the object dies on its own thread
    handle->MarkFinished(code);
  }
};

MessageThread::MessageThread() : clock_(SystemClock()), impl_(std::make_unique<Impl>()) {}

void MessageThread::SetClock(std::shared_ptr<LoopClock> clock) {
  if (clock) clock_ = std::move(clock);
}

ThreadHandlePtr MessageThread::Start(std::unique_ptr<MessageThread> thread) {
  ThreadHandlePtr handle = CreateSuspended(std::move(thread));
  Resume(handle);
  return handle;
}

MessageThread::~MessageThread() = default;

ThreadHandlePtr MessageThread::CreateSuspended(std::unique_ptr<MessageThread> thread) {
  if (!thread) return nullptr;
  auto queue = std::make_shared<ThreadQueue>();
  queue->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (queue->wakeFd < 0) return nullptr;

  ThreadRegistry& reg = Registry();
  ThreadId id;
  {
    std::lock_guard<std::mutex> lock(reg.mutex);
    id = reg.nextId++;
    if (reg.nextId == 0) reg.nextId = 1;
    reg.queues[id] = queue;
  }
  thread->id_ = id;
  thread->handle_ = std::make_shared<ThreadHandle>(id);
  thread->impl_->queue = queue;
  ThreadHandlePtr handle = thread->handle_;

  MessageThread* raw = thread.release();
  try {
    std::thread worker([raw] { ThreadQueueAccess::Run(std::unique_ptr<MessageThread>(raw)); });
    JoinFinishedThreads();  // the ones that ended meanwhile, so the list stays short
    StartedThreads& st = Started();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.threads.emplace_back(handle, std::move(worker));
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(reg.mutex);
      reg.queues.erase(id);
    }
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      queue->open = false;
      queue->messages.clear();
    }
    delete raw;
    return nullptr;
  }
  return handle;
}

void MessageThread::Resume(const ThreadHandlePtr& handle) {
  if (!handle) return;
  std::shared_ptr<ThreadQueue> queue = FindQueue(handle->Id());
  if (!queue) return;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->resumed = true;
  }
  queue->resumeCv.notify_all();
}

uint32_t MessageThread::SetTimer(uint32_t delayMs) {
  const uint32_t id = NewTimerId();
  const TimePoint due = clock_->Now() + std::chrono::milliseconds(delayMs);
  impl_->timers[id] = due;
  clock_->TimerSet(this, id, due);
  return id;
}

void MessageThread::KillTimer(uint32_t timerId) {
  if (impl_->timers.erase(timerId)) clock_->TimerGone(this, timerId);
}

void MessageThread::WatchSocket(int fd, short events) {
  if (fd < 0) return;
  impl_->sockets[fd] = Impl::Watch{events, impl_->nextGeneration++};
}

void MessageThread::UnwatchSocket(int fd) { impl_->sockets.erase(fd); }

void MessageThread::PostQuit(int exitCode) {
  impl_->quit = true;
  exitCode_ = exitCode;
}

bool MessageThread::StopWaiting(uint32_t stopMessage) const {
  return impl_->quit || (impl_->queue && impl_->queue->Holds(kQuitMessage, stopMessage));
}

bool MessageThread::HandleOne(Message& msg) {
  if (msg.id == kQuitMessage) {
    exitCode_ = static_cast<int>(msg.wParam);
    impl_->quit = true;
    return false;
  }
  OnMessage(msg);
  return true;
}

void MessageThread::Run() {
  if (!InitInstance()) {
    exitCode_ = ExitInstance();
    return;
  }
  ThreadQueue& queue = *impl_->queue;
  std::vector<pollfd> fds;
  std::vector<uint64_t> generations;
  std::vector<std::pair<TimePoint, uint32_t>> due;

  while (!impl_->quit) {
    // Time to the nearest timer, or infinite when none is set.
    int timeout = -1;
    if (!impl_->timers.empty()) {
      auto nearest = std::min_element(impl_->timers.begin(), impl_->timers.end(),
                                      [](const auto& a, const auto& b) { return a.second < b.second; });
      timeout = clock_->SleepMs(nearest->second);
    }

    fds.clear();
    generations.clear();
    fds.push_back(pollfd{queue.wakeFd, POLLIN, 0});
    generations.push_back(0);
    for (const auto& [fd, watch] : impl_->sockets) {
      fds.push_back(pollfd{fd, watch.events, 0});
      generations.push_back(watch.generation);
    }
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) break;  // a broken poll set would spin forever
    if (ready < 0) continue;

    // Messages: only those waiting now, so timers and sockets are not starved.
    if (fds[0].revents) queue.ResetWake();
    size_t waiting = queue.Size();
    Message msg;
    while (waiting-- > 0 && queue.Pop(msg)) {
      if (!HandleOne(msg) || impl_->quit) break;
      msg = Message{};
    }
    if (impl_->quit) break;

    // Timers that are due, earliest first; each is removed before its handler runs.
    if (!impl_->timers.empty()) {
      const auto now = clock_->Now();
      due.clear();
      for (const auto& [id, when] : impl_->timers)
        if (when <= now) due.emplace_back(when, id);
      std::sort(due.begin(), due.end());
      for (const auto& [when, id] : due) {
        auto it = impl_->timers.find(id);
        if (it == impl_->timers.end()) continue;  // killed by an earlier handler
        impl_->timers.erase(it);
        clock_->TimerGone(this, id);
        OnTimer(id);
        if (impl_->quit) break;
      }
      if (impl_->quit) break;
    }

    // Sockets: skip any that a handler of this turn unwatched or watched anew.
    for (size_t i = 1; i < fds.size() && !impl_->quit; ++i) {
      if (!fds[i].revents) continue;
      auto it = impl_->sockets.find(fds[i].fd);
      if (it == impl_->sockets.end() || it->second.generation != generations[i]) continue;
      OnSocketReady(fds[i].fd, fds[i].revents);
      if (fds[i].revents & POLLNVAL) {
        // A closed descriptor would report POLLNVAL on every turn; stop watching it.
        it = impl_->sockets.find(fds[i].fd);
        if (it != impl_->sockets.end() && it->second.generation == generations[i]) impl_->sockets.erase(it);
      }
    }
  }
  exitCode_ = ExitInstance();
}

}  // namespace platform
