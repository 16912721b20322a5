#include "tools/rtspcam/rtspcam_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

extern char** environ;

namespace rtspcam {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kBanner = "rtspcam listening on ";

using Clock = std::chrono::steady_clock;

// Spawns argv with stdout into a pipe (when outFd is given) and stderr as it is.
pid_t Spawn(const std::vector<std::string>& args, int* outFd, bool quiet) {
  int fds[2] = {-1, -1};
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (outFd && pid > 0) {
    *outFd = fds[0];
  } else {
    close(fds[0]);
  }
  return pid;
}

// Waits for the child up to timeoutMs; true when it has been reaped.
bool Reap(pid_t pid, int timeoutMs, int* status = nullptr) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) {
      if (status) *status = st;
      return true;
    }
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

std::string Unavailable() {
  if (access(kPython, X_OK) != 0) return std::string(kPython) + " is missing";
  pid_t pid = Spawn({kPython, "-c",
                     "import gi; gi.require_version('GstRtspServer', '1.0'); "
                     "from gi.repository import GstRtspServer"},
                    nullptr, true);
  int status = 0;
  if (pid <= 0 || !Reap(pid, 30000, &status)) return "cannot run " + std::string(kPython);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::string(kPython) + " cannot import GStreamer's RTSP server bindings";
  return {};
}

bool Process::Start(std::string* error) {
  if (pid_ > 0) return true;
  // A port just left may still be held by the previous run for a moment.
  const auto end = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    if (StartOnce(error)) return true;
    if (port_ == 0 || Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

bool Process::StartOnce(std::string* error) {
  std::vector<std::string> args = {kPython,
                                   TOLLAN_RTSPCAM_SCRIPT,
                                   "--port",
                                   std::to_string(port_),
                                   "--codec",
                                   config_.codec,
                                   "--size",
                                   std::to_string(config_.width) + "x" + std::to_string(config_.height),
                                   "--fps",
                                   std::to_string(config_.fps),
                                   "--key-interval",
                                   std::to_string(config_.keyInterval),
                                   "--kbps",
                                   std::to_string(config_.kbps),
                                   "--pattern",
                                   config_.pattern,
                                   "--profile",
                                   config_.profile};
  if (!config_.user.empty()) {
    args.insert(args.end(), {"--user", config_.user, "--password", config_.password, "--auth", config_.auth});
  }
  if (!config_.countFile.empty()) args.insert(args.end(), {"--count-file", config_.countFile});
  if (!config_.requestLog.empty()) args.insert(args.end(), {"--request-log", config_.requestLog});
  int out = -1;
  pid_t pid = Spawn(args, &out, false);
  if (pid <= 0) {
    if (error) *error = "cannot start the RTSP camera";
    return false;
  }
  // The script prints one line once it accepts connections.
  std::string text;
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (text.find('\n') == std::string::npos && Clock::now() < end) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    ssize_t n = read(out, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, size_t(n));
  }
  close(out);
  const size_t at = text.find(kBanner);
  const size_t colon = at == std::string::npos ? at : text.find(':', text.find("//", at));
  if (colon == std::string::npos) {
    kill(pid, SIGKILL);
    Reap(pid, 3000);
    if (error) *error = "the RTSP camera did not start: " + text;
    return false;
  }
  pid_ = pid;
  port_ = static_cast<uint16_t>(std::stoi(text.substr(colon + 1)));
  paused_ = false;
  return true;
}

void Process::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (paused_) kill(pid_, SIGCONT);
  if (!Reap(pid_, 3000)) {
    kill(pid_, SIGKILL);
    Reap(pid_, 3000);
  }
  pid_ = -1;
  paused_ = false;
}

void Process::EndCount() {
  if (pid_ > 0 && !config_.countFile.empty()) kill(pid_, SIGUSR1);
}

void Process::Pause() {
  if (pid_ > 0 && !paused_ && kill(pid_, SIGSTOP) == 0) paused_ = true;
}

void Process::Resume() {
  if (pid_ > 0 && paused_ && kill(pid_, SIGCONT) == 0) paused_ = false;
}

std::string Process::Url(const std::string& user, const std::string& password) const {
  std::string login = user.empty() ? "" : user + ":" + password + "@";
  return "rtsp://" + login + "127.0.0.1:" + std::to_string(port_) + "/stream";
}

}  // namespace rtspcam
