// Case-insensitive comparisons and whole-number reading that ignore the locale.
#include "platform/ascii.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace platform::ascii {
namespace {

TEST(Ascii, ComparisonsFoldOnlyAsciiLetters) {
  // A Turkish locale would fold 'I' to a dotless i; these helpers never ask it.
  std::setlocale(LC_ALL, "tr_TR.UTF-8");
  struct Case {
    std::string a, b;
    bool equal, aStartsWithB, aEndsWithB, less;
  };
  const Case cases[] = {
      {"HTTP://x", "http://", false, true, false, false},
      {"video.JPG", ".jpg", false, false, true, false},
      {".jpg", ".jpg", true, true, false, false},  // an ending needs something before it
      {"FILE", "file", true, true, false, false},
      {"\xC3\x84rger", "\xC3\xA4rger", false, false, false, true},  // bytes above 127 are themselves
      {"abc", "ABD", false, false, false, true},
      {"ab", "abc", false, false, false, true},
      {"[", "A", false, false, false, true},  // 'A' counts as 'a', which comes after '['
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal);
    EXPECT_EQ(StartsWithNoCase(c.a, c.b), c.aStartsWithB);
    EXPECT_EQ(EndsWithNoCase(c.a, c.b), c.aEndsWithB);
    EXPECT_EQ(LessNoCase(c.a, c.b), c.less);
  }
  EXPECT_EQ(ToLower("Hello, WORLD \xC3\x84"), "hello, world \xC3\x84");
  EXPECT_EQ(ToUpper("tollan"), "TOLLAN");
  std::setlocale(LC_ALL, "C");
}

TEST(Ascii, WholeNumbersAreReadWithoutWrapping) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  struct Case {
    std::string text;
    std::optional<int64_t> whole;      // ParseWhole
    std::optional<uint64_t> upTo999;   // ParseUnsigned(text, 999)
    std::optional<int32_t> scanned;    // ReadInt32 from the start
    size_t scannedEnd;                 // where ReadInt32 stopped
  };
  const Case cases[] = {
      {"42", 42, 42, 42, 2},
      {"-7", -7, std::nullopt, -7, 2},
      {"+7", 7, std::nullopt, 7, 2},
      {"  12x", std::nullopt, std::nullopt, 12, 4},
      {"1000", 1000, std::nullopt, 1000, 4},
      {"", std::nullopt, std::nullopt, std::nullopt, 0},
      {"-", std::nullopt, std::nullopt, std::nullopt, 0},
      {"2147483647", 2147483647, std::nullopt, 2147483647, 10},
      {"-2147483648", -2147483648LL, std::nullopt, std::numeric_limits<int32_t>::min(), 11},
      {"2147483648", 2147483648LL, std::nullopt, std::nullopt, 0},
      {"99999999999999999999999", kMax, std::nullopt, std::nullopt, 0},
      {"-99999999999999999999999", -kMax, std::nullopt, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseWhole(c.text), c.whole);
    EXPECT_EQ(ParseUnsigned(c.text, 999), c.upTo999);
    size_t pos = 0;
    EXPECT_EQ(ReadInt32(c.text, pos), c.scanned);
    EXPECT_EQ(pos, c.scannedEnd);
  }
  // A limit stops the value growing; digits are still consumed.
  size_t pos = 0;
  EXPECT_EQ(ReadDigits("65536/x", pos, 65535), 65535u);
  EXPECT_EQ(pos, 5u);
  pos = 0;
  EXPECT_EQ(ReadDigits(std::string(40, '9'), pos, std::numeric_limits<uint64_t>::max()),
            std::numeric_limits<uint64_t>::max());
}

}  // namespace
}  // namespace platform::ascii
