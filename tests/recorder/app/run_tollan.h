#pragma once
// Runs the tollan program under test (TOLLAN_PROGRAM) as a user would from a shell.
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tollan_test {

struct RunOptions {
  bool withErrors = true;  // standard error goes to the captured text too (else to /dev/null)
  bool setHome = false;    // HOME is the settings folder too
};

// Runs tollan with TOLLAN_HOME set; returns its exit status (-1 when it did not
// exit normally) and the text it printed in *out.
inline int RunTollanWith(const std::string& home, const std::vector<std::string>& args, std::string* out,
                         RunOptions options) {
  std::string command = "TOLLAN_HOME='" + home + "'";
  if (options.setHome) command += " HOME='" + home + "'";
  command += " '" + std::string(TOLLAN_PROGRAM) + "'";
  for (const auto& a : args) command += " '" + a + "'";
  command += options.withErrors ? " 2>&1" : " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof(buffer), p)) text.append(buffer, n);
  const int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tollan_test
