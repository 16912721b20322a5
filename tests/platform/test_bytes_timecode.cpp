// Byte pattern search, time-code expansion and time texts in the C locale.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/timecode.h"
#include "tests/locale_support.h"

using namespace platform;

TEST(FindBytes, FindsFirstWholeOccurrenceAtOrAfterStart) {
  const uint8_t buf[] = {0xFF, 0xD8, 0x00, 0xFF, 0xD9, 0xFF, 0xD8, 0xFF};
  const uint8_t soi[] = {0xFF, 0xD8};
  EXPECT_EQ(FindBytes(buf, sizeof buf, soi, 2), 0);
  EXPECT_EQ(FindBytes(buf, sizeof buf, soi, 2, 1), 5);
  // A pattern cut by the end of the buffer is not a match.
  const uint8_t cut[] = {0xFF, 0xD8, 0x11};
  EXPECT_EQ(FindBytes(buf, sizeof buf, cut, 3, 5), -1);
  EXPECT_EQ(FindBytes(buf, 0, soi, 2), -1);
  EXPECT_EQ(FindBytes(buf, sizeof buf, soi, 0), -1);
  EXPECT_EQ(FindBytes(buf, sizeof buf, soi, 2, sizeof buf), -1);
  EXPECT_EQ(FindBytes(buf, sizeof buf, soi, 2, 1000), -1);
  const uint8_t longer[16] = {};
  EXPECT_EQ(FindBytes(buf, sizeof buf, longer, sizeof longer), -1);
}

TEST(TimeCodes, ExpandsForGivenTimeAndKeepsTemplateWhenEmptyOrTooLong) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 5;
  tm.tm_hour = 13;
  tm.tm_min = 4;
  tm.tm_sec = 9;
  tm.tm_isdst = -1;
  const std::time_t when = std::mktime(&tm);
  EXPECT_EQ(ExpandTimeCodes("cam/%Y-%m-%d/%H%M%S.mjpg", when), "cam/2024-03-05/130409.mjpg");
  EXPECT_EQ(ExpandTimeCodes("", when), "");
  // A template without codes stays as it is.
  EXPECT_EQ(ExpandTimeCodes("plain", when), "plain");
  // Far more output than template length + 1024 bytes: the template comes back.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "%c";
  EXPECT_EQ(ExpandTimeCodes(many, when), many);
}

// A Qt application takes its locale from LANG; time texts must not follow it.
TEST(TimeCodes, TextsStayEnglishUnderAGermanLocale) {
  std::string why;
  const std::string dir = test_support::GermanLocaleDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 4;  // a Monday
  tm.tm_hour = 21;
  tm.tm_min = 5;
  tm.tm_isdst = -1;
  const std::time_t when = std::mktime(&tm);
  std::tm local{};
  ASSERT_NE(localtime_r(&when, &local), nullptr);

  const std::vector<std::string> texts = test_support::TextsUnderLocale(dir, [&] {
    char plain[64] = {};
    std::strftime(plain, sizeof plain, "%A|%p|%B", &local);
    return std::vector<std::string>{plain, FormatTime("%A %a %B %b %p %I:%M", local),
                                    ExpandTimeCodes("/rec/K\xC3\xA4" "fig/%A/%p.mjpg", when),
                                    ExpandTimeCodes("%p", when)};
  });
  ASSERT_EQ(texts.size(), 4u) << (texts.empty() ? std::string() : texts[0]);
  // Proof that the locale took hold: the library's own strftime speaks German.
  ASSERT_EQ(texts[0], "Montag||M\xC3\xA4rz");
  EXPECT_EQ(texts[1], "Monday Mon March Mar PM 09:05");
  EXPECT_EQ(texts[2], "/rec/K\xC3\xA4" "fig/Monday/PM.mjpg");  // other bytes pass unchanged
  EXPECT_EQ(texts[3], "PM");
}
