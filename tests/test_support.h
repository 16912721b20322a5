#pragma once
// Small helpers shared by test programs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// A fresh folder under the test temporary folder, with a trailing '/'.
inline std::string MakeTempDir(const std::string& prefix) {
  std::string templ = ::testing::TempDir() + prefix + "_XXXXXX";
  char* dir = ::mkdtemp(templ.data());
  EXPECT_NE(dir, nullptr);
  return templ + "/";
}

// A fresh folder that is removed with everything in it when the test ends,
// passed or failed.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& prefix) : path_(MakeTempDir(prefix)) {}
  ~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }  // with a trailing '/'

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

}  // namespace test_support
