// Stop-all closes the registered threads group by group, highest group first.
#include "player/thread_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/messages.h"

namespace {

using player::CThreadRegistry;

// What the threads saw, in the order it happened.
struct Journal {
  std::mutex mutex;
  std::vector<std::string> events;
  void Add(std::string e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(std::move(e));
  }
};

// Registers itself; on VT_CLOSE it tries to register again, then ends a little later.
class Worker : public platform::MessageThread {
 public:
  Worker(std::string name, int group, CThreadRegistry& registry, Journal& journal)
      : name_(std::move(name)), group_(group), registry_(registry), journal_(journal) {}

 protected:
  bool InitInstance() override { return registry_.Add(Id(), Handle(), group_); }
  int ExitInstance() override {
    registry_.Remove(Id());
    return 0;
  }
  void OnMessage(platform::Message& msg) override {
    if (!platform::Is<player::to_video_thread::VT_CLOSE>(msg)) return;
    journal_.Add("close " + name_ + (msg.wParam == 1 ? "" : " (wParam not 1)"));
    if (registry_.Add(Id(), Handle(), group_)) journal_.Add("added while stopping");
    SetTimer(30);
  }
  void OnTimer(uint32_t) override {
    journal_.Add("end " + name_);
    PostQuit();
  }

 private:
  std::string name_;
  int group_;
  CThreadRegistry& registry_;
  Journal& journal_;
};

TEST(ThreadRegistry, StopAllClosesGroupsHighestFirstAndWaitsForEach) {
  CThreadRegistry registry;
  Journal journal;
  const struct {
    const char* name;
    int group;
  } workers[] = {{"a", 1}, {"b", 2}, {"c", 1}, {"d", 3}};
  std::vector<platform::ThreadHandlePtr> handles;
  for (const auto& w : workers) {
    handles.push_back(platform::MessageThread::Start(std::make_unique<Worker>(w.name, w.group, registry, journal)));
  }
  while (registry.Count() < 4) std::this_thread::yield();

  registry.StopAll();
  for (auto& h : handles) EXPECT_TRUE(h->Finished());
  EXPECT_EQ(registry.Count(), 0u);
  // d, then b, then a and c together; nothing was added while stopping.
  ASSERT_EQ(journal.events.size(), 8u);
  const std::vector<std::string> head(journal.events.begin(), journal.events.begin() + 4);
  EXPECT_EQ(head, (std::vector<std::string>{"close d", "end d", "close b", "end b"}));
  std::vector<std::string> tail(journal.events.begin() + 4, journal.events.end());
  std::sort(tail.begin(), tail.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"close a", "close c", "end a", "end c"}));

  // Registering works again once the stop is over.
  EXPECT_TRUE(registry.Add(99, nullptr, 1));
  registry.Remove(99);
  EXPECT_EQ(registry.Count(), 0u);
}

}  // namespace
