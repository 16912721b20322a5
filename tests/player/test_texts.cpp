// The player's texts: sizes, time stamps, still export names and outcomes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>

#include <ctime>
#include <string>

#include "tests/test_support.h"
#include "player/file_info.h"
#include "player/still_export.h"
#include "tests/locale_support.h"
#include "tests/player/player_files.h"

namespace {

using namespace player;

TEST(PlayerTexts, SizeTextsTakeTheLargestUnitReached) {
  const struct {
    int64_t bytes;
    const char* text;
  } rows[] = {
      {0, "0 bytes"},
      {1023, "1023 bytes"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {int64_t(5) << 30, "5.00 GB"},
      {(int64_t(3) << 39), "1.50 TB"},
      {int64_t(1) << 50, "1.00 PB"},
      {int64_t(1) << 60, "1.00 EB"},
      {INT64_MAX, "8.00 EB"},
  };
  for (const auto& row : rows) EXPECT_EQ(SizeText(row.bytes), row.text) << row.bytes;
  EXPECT_EQ(VideoSizeLabel(1536), " Video Size: 1.50 KB");
}

// Local time is UTC while a test runs, so the expected texts hold anywhere.
class UtcTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = ::getenv("TZ");
    if (tz) saved_ = tz;
    hadTz_ = tz != nullptr;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (hadTz_) {
      ::setenv("TZ", saved_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  std::string saved_;
  bool hadTz_ = false;
};

TEST_F(UtcTime, TimeStampTextsShowTheRealDateAlsoFrom2038On) {
  const struct {
    uint32_t stamp;
    const char* text;
  } rows[] = {
      {0, " No frame timestamp found"},
      {1, " Thu Jan 01 1970 (12:00:01 AM)"},
      {1181052189, " Tue Jun 05 2007 (02:03:09 PM)"},
      {2147483647, " Tue Jan 19 2038 (03:14:07 AM)"},
      {2147483648u, " Tue Jan 19 2038 (03:14:08 AM)"},
      {4294967295u, " Sun Feb 07 2106 (06:28:15 AM)"},
  };
  for (const auto& row : rows) EXPECT_EQ(TimeStampText(row.stamp), row.text) << row.stamp;

  // The user's locale changes neither names nor the decimal point.
  std::string why;
  const std::string dir = test_support::GermanLocaleDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  const auto texts = test_support::TextsUnderLocale(dir, [] {
    return std::vector<std::string>{TimeStampText(1181052189), SizeText(1536)};
  });
  EXPECT_EQ(texts, (std::vector<std::string>{" Tue Jun 05 2007 (02:03:09 PM)", "1.50 KB"}));
}

TEST(StillExport, ChosenNamesGainTheExtensionOnlyWithoutADot) {
  const struct {
    const char* chosen;
    const char* path;
  } rows[] = {
      {"snapshot", "snapshot.jpg"},
      {"snap.shot", "snap.shot"},
      {"  pic  ", "pic.jpg"},
      {"/home/j.smith/snapshot", "/home/j.smith/snapshot.jpg"},
      {"/tmp/x/ frame.jpg ", "/tmp/x/frame.jpg"},
      {"", ".jpg"},
      {"/tmp/x/   ", "/tmp/x/.jpg"},
  };
  for (const auto& row : rows) EXPECT_EQ(StillExportPath(row.chosen), row.path) << '"' << row.chosen << '"';
}

TEST(StillExport, SavingWritesTheBytesOrSaysWhichStepFailed) {
  test_support::ScopedTempDir dir{"velmo"};
  const player_test::Bytes frame = player_test::Frame(3000, 42);
  const struct {
    std::string path;
    StillSave result;
  } rows[] = {
      {dir.Path("frame.jpg"), StillSave::Saved},
      {dir.Path("missing/frame.jpg"), StillSave::CreateFailed},
      // A pipe is never replaced by a file (a full disk is tried through velmo).
      {dir.Path("pipe"), StillSave::CreateFailed},
  };
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(SaveStill(frame, row.path), row.result);
    if (row.result == StillSave::Saved) {
      EXPECT_TRUE(player_test::ReadBytes(row.path) == frame);
    }
  }
}

}  // namespace
