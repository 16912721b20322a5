#pragma once
// A German locale for tests that show time texts ignore the user's locale. It is
// built with localedef into a temporary folder, so nothing is installed, and used
// only in a child process, so the test program's own locale never changes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace test_support {

constexpr const char* kGermanLocale = "de_DE.UTF-8";

// The folder that holds de_DE.UTF-8, built once per test program; empty with the
// reason in *why when it cannot be built here.
inline std::string GermanLocaleDir(std::string* why) {
  struct Built {
    ScopedTempDir tmp{"tollan_locale"};
    std::string dir, why;
    Built() {
      struct stat st {};
      if (::stat("/usr/share/i18n/locales/de_DE", &st) != 0) {
        why = "no de_DE locale source (Debian package locales)";
        return;
      }
      const std::string folder = tmp.Path();
      if (folder.empty()) {
        why = "no temporary folder";
        return;
      }
      const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + kGermanLocale + "' >/dev/null 2>&1";
      const int rc = std::system(command.c_str());
      // localedef may exit non-zero over mere warnings; what counts is the time category.
      if (::stat((folder + kGermanLocale + "/LC_TIME").c_str(), &st) != 0) {
        why = WIFEXITED(rc) && WEXITSTATUS(rc) == 127 ? "localedef not found" : "localedef failed";
        return;
      }
      dir = folder.substr(0, folder.size() - 1);
    }
  };
  static const Built built;
  if (why) *why = built.why;
  return built.dir;
}

// Runs texts() in a child process whose whole locale is the German one from dir,
// as a Qt application's setlocale(LC_ALL, "") would set it from LANG, and returns
// the texts it gave. A first text "!..." tells why the child could not run them.
inline std::vector<std::string> TextsUnderLocale(const std::string& dir,
                                                 const std::function<std::vector<std::string>()>& texts) {
  int fds[2];
  if (::pipe(fds) != 0) return {"!no pipe"};
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return {"!no child process"};
  }
  if (child == 0) {
    ::close(fds[0]);
    std::string out;
    if (::setenv("LOCPATH", dir.c_str(), 1) != 0 || !std::setlocale(LC_ALL, kGermanLocale)) {
      out = "!setlocale refused the built locale\n";
    } else {
      for (const std::string& text : texts()) out += text + '\n';
    }
    for (size_t done = 0; done < out.size();) {
      const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string in;
  char chunk[512];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    in.append(chunk, size_t(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {"!child process failed"};
  std::vector<std::string> result;
  for (size_t start = 0, end; (end = in.find('\n', start)) != std::string::npos; start = end + 1)
    result.push_back(in.substr(start, end - start));
  return result;
}

}  // namespace test_support
