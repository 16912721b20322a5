#pragma once
// The recorder without a screen: resumes every camera of the settings file,
// prints each log entry to standard error and shuts down in order on SIGINT or SIGTERM.
#include <string>

namespace recorder::app {

struct HeadlessOptions {
  std::string settingsPath;
  std::string logFilePath;
};

// Runs until SIGINT or SIGTERM arrives. Returns the process exit status.
int RunHeadless(const HeadlessOptions& options);

}  // namespace recorder::app
