// The converter's rules that need no conversion: output names, rates, same files.
#include <gtest/gtest.h>
#include <unistd.h>

#include "converter/conversion.h"
#include "tests/converter/converter_test_support.h"

namespace {

using namespace converter;

TEST(Conversion, OutputPathIsTheInputWithTheTypesExtension) {
  const struct {
    const char* input;
    const char* type;
    const char* output;  // nullptr: no suggestion, the output path stays as it is
  } cases[] = {
      {"/rec/cam1.mjpg", "Windows Media Video", "/rec/cam1.wmv"},
      {"/rec/cam1.mjpg", "Divx", "/rec/cam1.avi"},
      {"/rec/cam1.mjpg", "I5V0", "/rec/cam1.avi"},
      {"/rec/cam1.mjpg", "MSVC", "/rec/cam1.avi"},
      {"/rec/cam1.mjpg", "MPEG4", "/rec/cam1.mp4"},
      {"/rec/cam1.2024.mjpg", "Divx", "/rec/cam1.2024.avi"},
      {"cam1.", "Divx", "cam1.avi"},
      {"/rec/cam1", "Divx", nullptr},
      {"/rec.d/cam1", "Divx", nullptr},
      {"", "Divx", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.type);
    const auto output = DeriveOutputPath(c.input, FindVideoType(c.type));
    ASSERT_EQ(output.has_value(), c.output != nullptr);
    if (c.output) {
      EXPECT_EQ(*output, c.output);
    }
  }
}

TEST(Conversion, FrameRateTextReadsLikeTheRateField) {
  const struct {
    const char* text;
    int rate;
  } cases[] = {
      {"10", 10}, {"", 0}, {"abc", 0}, {" 7", 7}, {"12fps", 12}, {"-3", -3}, {"+4", 4},
      {"99999999999999", 2147483647}, {"030", 30},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseFrameRate(c.text), c.rate) << '"' << c.text << '"';
  }
}

TEST(Conversion, SameFileMeansTheSameFileOnDisk) {
  converter_test::TempFolder folder;
  const std::string a = folder("a.mjpg");
  FILE* f = std::fopen(a.c_str(), "wb");
  std::fclose(f);
  ASSERT_EQ(::link(a.c_str(), folder("hard").c_str()), 0);
  ASSERT_EQ(::symlink(a.c_str(), folder("soft").c_str()), 0);
  const struct {
    std::string other;
    bool same;
  } cases[] = {
      {a, true},
      {folder("./a.mjpg"), true},
      {folder("hard"), true},
      {folder("soft"), true},
      {folder("b.mjpg"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSameFile(a, c.other), c.same) << c.other;
  EXPECT_TRUE(IsSameFile(folder("none"), folder("none")));
}

}  // namespace
