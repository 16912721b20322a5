// The output path suggested for an input and a type.
#include <gtest/gtest.h>

#include "converter/conversion.h"

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

}  // namespace
