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

// What a result says: the conversion's own detail first, then the result's text;
// a damaged conversion says what it skipped instead of the plain success text.
TEST(Conversion, ResultTextsPutTheReasonFirst) {
  const struct {
    int code;
    std::string detail;
    std::string text;  // "" for a code that shows nothing
    const char* caption;
  } rows[] = {
      {kResultComplete, "", "Conversion Completed Successfully.", "Conversion Complete!"},
      {kResultWriterError, "/x/out.avi: No such file or directory",
       "/x/out.avi: No such file or directory\n\nPossibilities for this error include:\n\nCodec not installed.\n"
       "Cannot write to output file.\nCodec experienced an error.",
       "Convert Error"},
      {kResultDamaged, DamageText(1, 0, 0), "Conversion completed; 1 damaged frame skipped.", "Conversion Complete!"},
      {kResultDamaged, DamageText(0, 2, 700),
       "Conversion completed; 2 bytes between frames skipped. The first damage is at byte 700 of the MJPG file.",
       "Conversion Complete!"},
      {kResultDamaged, DamageText(2, 5000, 9),
       "Conversion completed; 2 damaged frames and 5000 damaged bytes skipped. The first damage is at byte 9 of the "
       "MJPG file.",
       "Conversion Complete!"},
      {kResultDamaged, "", "Conversion completed; damaged parts of the MJPG file were skipped.", "Conversion Complete!"},
      {-1, "", "", nullptr},
      {99, "why", "", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(ResultText(row.code, row.detail), row.text);
    const ResultMessage* message = FindResultMessage(row.code);
    ASSERT_EQ(message != nullptr, row.caption != nullptr);
    if (message) {
      EXPECT_STREQ(message->caption, row.caption);
    }
  }
}
