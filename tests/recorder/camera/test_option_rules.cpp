// The options and source dialogs' rules: edit numbers and their clamps, drop
// list choices, the save path check, the extension switch, the URL check with
// its stream question, and capture format texts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/timecode.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/option_rules.h"
#include "recorder/camera/source_rules.h"
#include "tests/test_support.h"

namespace recorder::camera {
namespace {

TEST(OptionRules, EditNumbersAreReadAndClampedPerField) {
  struct Case {
    const char* field;
    std::string text;
    int32_t stored;
  };
  const Case cases[] = {
      {"frameDelayMs", "25000", 20000},
      {"frameDelayMs", "0", 0},
      {"frameDelayMs", "-7", 0},
      {"frameDelayMs", "99999999999999999999999", 20000},  // beyond 64 bits
      {"frameDelayMs", " 1500ms", 1500},                   // "%d": blanks, then digits up to the first other
      {"frameDelayMs", "fast", 0},                         // no number reads as 0
      {"frameDelayMs", std::string(48, '0') + "7", 7},     // 49 characters are read
      {"frameDelayMs", std::string(49, '0') + "7", 0},     // the 50th is not
      {"maxJpgCount", "0", 1},
      {"maxJpgCount", "", 1},
      {"maxJpgCount", "250", 250},
      {"jpegQuality", "0", 0},
      {"jpegQuality", "101", 100},
      {"jpegQuality", "-4", 0},
      {"motionTriggerLevel", "256", 255},
      {"motionTriggerLevel", "-1", 0},
      {"motionTriggerLevel", "+30", 30},
      {"frameSaveCount", "-5", 1},
      {"frameSaveCount", "0", 0},
      {"frameSaveCount", "12", 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " \"" + c.text + "\"");
    auto camera = CreateDefaultCamera();
    ASSERT_TRUE(StoreEditNumber(*camera, c.field, c.text));
    EXPECT_EQ(FindField(c.field)->format(*camera), std::to_string(c.stored));
  }
  auto camera = CreateDefaultCamera();
  EXPECT_FALSE(StoreEditNumber(*camera, "deviceIndex", "3"));  // no edit of the dialog, no clamp
}

TEST(OptionRules, DropListIndexOutsideTheListStoresTheDefault) {
  struct Case {
    const char* field;
    int index;
    int32_t stored;
  };
  const Case cases[] = {
      {"rotation", 2, 2}, {"rotation", -1, 0}, {"overlayVAlign", -1, 1}, {"overlayBackground", 3, 3},
      {"overlayHAlign", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + std::to_string(c.index));
    auto camera = CreateDefaultCamera();
    camera->rotation = 3;
    camera->overlayHAlign = 2;
    ASSERT_TRUE(StoreChoice(*camera, c.field, c.index));
    EXPECT_EQ(FindField(c.field)->format(*camera), std::to_string(c.stored));
  }
}

TEST(OptionRules, EditTextsKeep258BytesAndWholeCharacters) {
  struct Case {
    std::string text;
    size_t kept;
  };
  const std::string e = "\xC3\xA9";  // one two-byte character
  const Case cases[] = {
      {std::string(300, 'a'), 258},
      {std::string(257, 'a') + e, 257},  // the character would end at byte 259
      {std::string(256, 'a') + e + "b", 258},
      {"short", 5},
  };
  for (const Case& c : cases) EXPECT_EQ(EditText(c.text).size(), c.kept);
}

TEST(OptionRules, SaveFormatSwitchesTheFileNamesExtension) {
  struct Case {
    std::string path, extension, result;
  };
  const Case cases[] = {
      {"/srv/cams/%A/video.mjpg", ".jpg", "/srv/cams/%A/video.jpg"},
      {"/srv/cams/%A/video.jpg", ".mjpg", "/srv/cams/%A/video.mjpg"},
      {"/srv/cams/video.tar.gz", ".jpg", "/srv/cams/video.tar.jpg"},  // the last "." only
      {"/srv/cams/video", ".jpg", "/srv/cams/video"},                 // none: unchanged
      {"/srv/cams.d/video", ".jpg", "/srv/cams.d/video"},             // a folder's "." is no extension
      {"/" + std::string(252, 'a') + ".jpg", ".mjpg", "/" + std::string(252, 'a') + ".mjpg"},  // 258 fits
      {"/" + std::string(253, 'a') + ".jpg", ".mjpg", "/" + std::string(253, 'a') + ".jpg"},   // 259 does not
  };
  for (const Case& c : cases) EXPECT_EQ(SwitchSaveExtension(c.path, c.extension), c.result) << c.path;
}

TEST(OptionRules, SavePathNeedsAnExtensionAndACreatableFolder) {
  const test_support::ScopedTempDir tmp{"savecheck"};
  const std::string root = tmp.Path();
  std::ofstream(root + "plainfile") << "x";
  const std::string weekday = platform::ExpandTimeCodes("%A");
  struct Case {
    std::string path;
    const char* message;  // nullptr: accepted
    std::string createdFolder;
  };
  const Case cases[] = {
      {"video.mjpg", kBadDirectoryMessage, ""},
      {".jpg", kBadExtensionMessage, ""},
      {".JPEG", kBadExtensionMessage, ""},
      {root + "a/video.avi", kBadExtensionMessage, ""},
      {root + "a/video.mjpg/", kBadExtensionMessage, ""},
      {"rec/video.mjpg", kBadDirectoryMessage, ""},                  // relative
      {root + "plainfile/x/video.jpg", kBadDirectoryMessage, ""},    // a file in the way
      {root + "cams/%A/video.mjpg", nullptr, root + "cams/" + weekday},
      {root + "up/SHOT.JPEG", nullptr, root + "up"},
      {root + "j/image.jpg", nullptr, root + "j"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::optional<UserMessage> message = PrepareSavePath(c.path);
    if (c.message == nullptr) {
      EXPECT_FALSE(message.has_value());
      EXPECT_TRUE(std::filesystem::is_directory(c.createdFolder));
    } else {
      ASSERT_TRUE(message.has_value());
      EXPECT_STREQ(message->text, c.message);
      EXPECT_STREQ(message->caption,
                   c.message == kBadExtensionMessage ? kInvalidSavePathCaption : kDirectoryFailedCaption);
    }
  }
}

TEST(SourceRules, StreamQuestionIsAskedOncePerAddressAndDecidesPushStream) {
  struct Step {
    std::string url;
    UrlVerdict verdict;
    bool answer = false;  // given when asked
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string accepted;  // the address confirmed with OK at the end
    int32_t pushStream;
  };
  const std::string cgi = "http://127.0.0.1/video.cgi";
  const Case cases[] = {
      {"capitals pass without a question", {{"HTTP://x/a.JPG", UrlVerdict::Passed}}, "HTTP://x/a.JPG", 0},
      {"jpeg ending", {{"http://x/a.jpeg", UrlVerdict::Passed}}, "http://x/a.jpeg", 0},
      {"a bare ending is no name", {{"http://.jpg", UrlVerdict::Passed}}, "http://.jpg", 0},
      {"other schemes are refused", {{"rtmp://x/a", UrlVerdict::Refused}, {"x/a.jpg", UrlVerdict::Refused}}, "", 0},
      {"rtsp passes without a question", {{"rtsp://x/a", UrlVerdict::Passed}, {"RTSPS://x/a", UrlVerdict::Passed}},
       "RTSPS://x/a", 0},
      {"same address asked once",
       {{cgi, UrlVerdict::AskStream, true}, {cgi, UrlVerdict::Passed}},
       cgi, 1},
      {"one changed character asks again",
       {{cgi, UrlVerdict::AskStream, true}, {cgi + "x", UrlVerdict::AskStream, true}},
       cgi + "x", 1},
      {"the comparison with the asked address is exact",
       {{cgi, UrlVerdict::AskStream, true}, {"HTTP://127.0.0.1/video.cgi", UrlVerdict::AskStream, false}},
       "HTTP://127.0.0.1/video.cgi", 0},
      {"no after an earlier yes for another address",
       {{cgi, UrlVerdict::AskStream, true}, {"http://127.0.0.1/other", UrlVerdict::AskStream, false}},
       "http://127.0.0.1/other", 0},
      {"a yes belongs to its address only",
       {{cgi, UrlVerdict::AskStream, true}, {"http://127.0.0.1/a.jpg", UrlVerdict::Passed}},
       "http://127.0.0.1/a.jpg", 0},
      {"ftp is never asked about", {{"FTP://127.0.0.1/cam/snap", UrlVerdict::Passed}}, "FTP://127.0.0.1/cam/snap", 0},
      {"ftp after a yes",
       {{cgi, UrlVerdict::AskStream, true}, {"ftp://127.0.0.1/x", UrlVerdict::Passed}},
       "ftp://127.0.0.1/x", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UrlCheck check;
    for (const Step& s : c.steps) {
      const UrlVerdict verdict = check.Check(s.url);
      EXPECT_EQ(verdict, s.verdict) << s.url;
      if (verdict == UrlVerdict::AskStream) check.Answer(s.answer);
    }
    EXPECT_EQ(check.PushStreamFor(c.accepted), c.pushStream);
  }
}

}  // namespace
}  // namespace recorder::camera
