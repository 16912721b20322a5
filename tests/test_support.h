#pragma once
// Small helpers shared by test programs.
#include <gtest/gtest.h>
#include <stdlib.h>

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

// The whole file as bytes in a string; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace test_support
