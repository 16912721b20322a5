#pragma once
// The recorder without a screen: resumes every camera of the settings file,
// prints each log entry and status change to standard error, naming its camera,
// prints a health line per camera on SIGUSR1 and every 10 minutes, starts cameras
// that failed again every 60 seconds, and shuts down in order on SIGINT, SIGTERM
// or SIGHUP.
#include <string>

namespace recorder::app {

struct HeadlessOptions {
  std::string settingsPath;
  std::string logFilePath;
  int retryMs = 60000;           // a failed camera is started again after this
  int healthIntervalMs = 600000;  // a health line per camera this often
};

// Runs until SIGINT, SIGTERM or SIGHUP arrives. Returns the process exit status:
// 0 after an orderly stop, 1 when the settings file cannot drive a recorder or
// another recorder runs with the same settings file.
int RunHeadless(const HeadlessOptions& options);

}  // namespace recorder::app
