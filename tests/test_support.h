#pragma once
// Small helpers shared by test programs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// A fresh folder under the test temporary folder (TEST_TMPDIR, TMPDIR or /tmp),
// removed with everything in it when the object goes, whether the test passed or
// failed. Every test that needs a folder or a file of its own makes one of these,
// as a local or as a member of its fixture, so a run leaves nothing behind.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& prefix = "tollan") {
    std::string templ = ::testing::TempDir() + prefix + "_XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
      ADD_FAILURE() << "cannot create a folder from " << templ;
      return;
    }
    path_ = templ + "/";
  }
  ~ScopedTempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The folder with a trailing '/', followed by `name`.
  std::string Path(const std::string& name = "") const { return path_ + name; }

 private:
  std::string path_;
};

// The whole file as bytes in a string; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Writes a file whole, replacing what was there.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace test_support
