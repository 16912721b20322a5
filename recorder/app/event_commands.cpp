#include "recorder/app/event_commands.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"

extern char** environ;

namespace recorder::app {
namespace {

constexpr uint32_t kReapPollMs = 100;  // only where pidfds are missing
constexpr uint32_t kTagWaitMs = 200;

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  return -1;
#endif
}

}  // namespace

std::vector<std::string> EventVariables(const EventCall& call, const CameraTag* camera) {
  return {
      "TOLLAN_CAMERA=" + (camera ? std::to_string(camera->index) : std::string()),
      "TOLLAN_NAME=" + (camera ? camera->name : std::string()),
      "TOLLAN_EVENT=" + call.event,
      // Workers log URLs masked already; a detail that still carries a password loses it here.
      "TOLLAN_DETAIL=" + camera::MaskUrlPassword(call.detail),
      "TOLLAN_TIME=" + call.time,
  };
}

EventCommandThread::EventCommandThread(platform::ThreadId logThread, CommandTiming timing)
    : logThread_(logThread), timing_(timing) {}

EventCommandThread::~EventCommandThread() {
  for (auto& [key, lane] : lanes_) {
    if (lane.running.pid > 0) {
      KillGroup(lane.running);
      ::waitpid(lane.running.pid, nullptr, 0);
    }
    if (lane.running.pidfd >= 0) ::close(lane.running.pidfd);
  }
}

const CameraTag* EventCommandThread::TagOf(platform::ThreadId source) const {
  if (source == 0) return nullptr;
  for (const CameraTag& c : cameras_)
    if (c.worker == source) return &c;
  return nullptr;
}

void EventCommandThread::OnMessage(platform::Message& msg) {
  if (platform::Is<to_commands::SetCommand>(msg)) {
    command_ = platform::Take<to_commands::SetCommand>(msg);
  } else if (platform::Is<to_commands::SetCameras>(msg)) {
    cameras_ = platform::Take<to_commands::SetCameras>(msg);
  } else if (platform::Is<to_commands::Event>(msg)) {
    Enqueue(platform::Take<to_commands::Event>(msg));
  } else if (platform::Is<to_commands::ThreadStop>(msg)) {
    stopping_ = true;
    bool any = false;
    for (auto& [key, lane] : lanes_) {
      lane.waiting.clear();
      any = any || lane.running.pid > 0;
    }
    if (!any)
      PostQuit();
    else
      stopTimer_ = SetTimer(timing_.stopGraceMs);
  }
}

void EventCommandThread::Enqueue(EventCall call) {
  // The thread's own report of a killed command would run the command again.
  if (command_.empty() || stopping_ || call.code == camera::kEventCommandKilled) return;
  const platform::ThreadId key = call.source;
  Lane& lane = lanes_[key];
  if (lane.waiting.size() >= timing_.maxQueued) lane.waiting.pop_front();
  lane.waiting.push_back(std::move(call));
  if (lane.running.pid <= 0) StartNext(key);
}

void EventCommandThread::StartNext(platform::ThreadId key) {
  Lane& lane = lanes_[key];
  while (!lane.waiting.empty() && lane.running.pid <= 0 && lane.deferTimer == 0) {
    const CameraTag* tag = TagOf(lane.waiting.front().source);
    if (!tag && key != 0 && !lane.waiting.front().deferred) {
      // A worker's first event can overtake the controller's word of which camera
      // it records; it waits a moment for that, once.
      lane.waiting.front().deferred = true;
      lane.deferTimer = SetTimer(kTagWaitMs);
      return;
    }
    EventCall call = std::move(lane.waiting.front());
    lane.waiting.pop_front();

    // The inherited environment without any TOLLAN_ variable, then this event's.
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
      if (std::strncmp(*e, "TOLLAN_", 7) != 0) env.emplace_back(*e);
    for (std::string& v : EventVariables(call, tag)) env.push_back(std::move(v));
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);

    std::string shell = "/bin/sh", dashC = "-c", cmd = command_;
    char* argv[] = {shell.data(), dashC.data(), cmd.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own: no controlling terminal, and one process group to kill.
    // Signals the recorder blocks (it waits for them with sigwait) are unblocked again.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, shell.c_str(), &actions, &attr, argv, envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) continue;  // nothing ran; the next event may fare better

    Running& r = lane.running;
    r = Running{};
    r.pid = pid;
    r.event = call.event + (call.detail.empty() ? "" : " " + camera::MaskUrlPassword(call.detail));
    r.pidfd = OpenPidFd(pid);
    if (r.pidfd >= 0) WatchSocket(r.pidfd, POLLIN);
    r.timer = SetTimer(r.pidfd >= 0 ? timing_.limitMs : kReapPollMs);
  }
}

void EventCommandThread::KillGroup(Running& r) {
  if (r.pid > 0) ::kill(-r.pid, SIGKILL);
}

void EventCommandThread::Reap(platform::ThreadId key) {
  Lane& lane = lanes_[key];
  Running& r = lane.running;
  if (r.pidfd >= 0) {
    UnwatchSocket(r.pidfd);
    ::close(r.pidfd);
  }
  KillTimer(r.timer);
  // A command that left children behind in its group: they go with it (before the
  // reap, while the unreaped leader still holds the group's number).
  ::kill(-r.pid, SIGKILL);
  ::waitpid(r.pid, nullptr, 0);
  r = Running{};
  if (stopping_) {
    for (const auto& [k, l] : lanes_)
      if (l.running.pid > 0) return;
    PostQuit();
    return;
  }
  StartNext(key);
  // A worker's lane goes when it is idle; a camera started again gets a new one.
  if (lane.running.pid <= 0 && lane.waiting.empty() && lane.deferTimer == 0) lanes_.erase(key);
}

void EventCommandThread::OnSocketReady(int fd, short) {
  for (auto& [key, lane] : lanes_) {
    if (lane.running.pidfd == fd) {
      Reap(key);
      return;
    }
  }
}

void EventCommandThread::OnTimer(uint32_t timerId) {
  if (timerId == stopTimer_ && stopTimer_ != 0) {
    for (auto& [key, lane] : lanes_) KillGroup(lane.running);
    return;  // the pidfds report the ends; the last one quits
  }
  for (auto& [key, lane] : lanes_) {
    if (lane.deferTimer == timerId) {
      lane.deferTimer = 0;
      StartNext(key);
      return;
    }
  }
  for (auto& [key, lane] : lanes_) {
    Running& r = lane.running;
    if (r.pid <= 0 || r.timer != timerId) continue;
    if (r.pidfd < 0) {
      // No pidfd: look for the end now and then (the limit is not kept then).
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(r.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == r.pid)
        Reap(key);
      else
        r.timer = SetTimer(kReapPollMs);
      return;
    }
    if (!r.killed) {
      r.killed = true;
      KillGroup(r);
      camera::PostLogEvent(logThread_, camera::kEventCommandKilled, r.event);
    }
    return;
  }
}

}  // namespace recorder::app
