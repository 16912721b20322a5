#pragma once
// The event command thread: runs the owner's shell command for every log event,
// with the camera, its name, the event text, its path or server and the time in
// TOLLAN_* environment variables. Commands run in a session of their own (no
// terminal, standard streams on /dev/null), one at a time per camera, queued
// behind one another; one that runs past the limit is killed with its process
// group and logged once. Nothing here ever waits for a command: each child's
// end arrives as a readable pidfd on this thread's loop.
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"

namespace recorder::app {

// One log event on its way to the command.
struct EventCall {
  int32_t code = 0;
  std::string event;              // the event text
  std::string detail;             // its argument: a path or a server (a URL's password masked)
  std::string time;               // the log's time text
  platform::ThreadId source = 0;  // the reporting worker, 0 for none
  bool deferred = false;          // waited once for its camera's tag
};

// Which camera a worker records, for TOLLAN_CAMERA and TOLLAN_NAME.
struct CameraTag {
  platform::ThreadId worker = 0;
  long index = -1;
  std::string name;
};

namespace to_commands {
struct SetCommand : platform::ThreadMessage<platform::WM_USER + 710, std::string> {};  // empty: none
struct SetCameras : platform::ThreadMessage<platform::WM_USER + 711, std::vector<CameraTag>> {};
struct Event : platform::ThreadMessage<platform::WM_USER + 712, EventCall> {};
struct ThreadStop : platform::ThreadMessage<platform::WM_USER + 201> {};
}  // namespace to_commands

// The variables a command gets for one event (besides the inherited environment).
std::vector<std::string> EventVariables(const EventCall& call, const CameraTag* camera);

struct CommandTiming {
  uint32_t limitMs = 30000;     // a command's longest run
  uint32_t stopGraceMs = 2000;  // at stop, running commands get this long before they are killed
  size_t maxQueued = 64;        // per camera; the oldest waiting event is dropped beyond it
};

class EventCommandThread : public platform::MessageThread {
 public:
  EventCommandThread(platform::ThreadId logThread, CommandTiming timing = {});
  ~EventCommandThread() override;

 protected:
  void OnMessage(platform::Message& msg) override;
  void OnTimer(uint32_t timerId) override;
  void OnSocketReady(int fd, short revents) override;

 private:
  struct Running {
    pid_t pid = -1;
    int pidfd = -1;
    uint32_t timer = 0;
    bool killed = false;
    std::string event;
  };
  struct Lane {
    std::deque<EventCall> waiting;
    Running running;
    uint32_t deferTimer = 0;
  };
  void Enqueue(EventCall call);
  void StartNext(platform::ThreadId key);
  void Reap(platform::ThreadId key);
  void KillGroup(Running& r);
  const CameraTag* TagOf(platform::ThreadId source) const;

  platform::ThreadId logThread_;
  CommandTiming timing_;
  std::string command_;
  std::vector<CameraTag> cameras_;
  // One lane per reporting worker (a camera's), and lane 0 for events of no camera.
  std::map<platform::ThreadId, Lane> lanes_;
  bool stopping_ = false;
  uint32_t stopTimer_ = 0;
};

}  // namespace recorder::app
