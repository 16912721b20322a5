// The motion alarm: event sound first, then a file beside the program, then in the working folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/test_support.h"
#include "recorder/frame/alarm_sound.h"

using namespace recorder;

namespace {

namespace fs = std::filesystem;

struct Calls {
  std::vector<std::string> events;
  std::vector<std::string> files;
};

class FakeBackend : public frame::SoundBackend {
 public:
  FakeBackend(Calls& calls, bool eventsWork) : calls_(calls), eventsWork_(eventsWork) {}
  bool PlayEvent(const std::string& name) override {
    calls_.events.push_back(name);
    return eventsWork_;
  }
  bool PlayFile(const std::string& path) override {
    calls_.files.push_back(path);
    return true;
  }

 private:
  Calls& calls_;
  bool eventsWork_;
};

class AlarmSound : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "prog");
    fs::create_directories(root_ / "work");
    progDir_ = (root_ / "prog").string() + "/";
    workDir_ = (root_ / "work").string();
  }
  void Touch(const fs::path& p) { std::ofstream(p) << "RIFF"; }
  std::unique_ptr<frame::SoundPlayer> Player(Calls& calls, bool eventsWork) {
    return frame::CreateSoundPlayer(std::make_unique<FakeBackend>(calls, eventsWork), progDir_, workDir_);
  }

  test_support::ScopedTempDir tmp_{"alarm_sound"};
  fs::path root_ = tmp_.Path();
  std::string progDir_, workDir_;
};

TEST_F(AlarmSound, KnownEventNameIsPlayedWithoutLookingForAFile) {
  Touch(root_ / "prog" / "bell");
  Calls calls;
  Player(calls, true)->Play("bell");
  EXPECT_EQ(calls.events, std::vector<std::string>{"bell"});
  EXPECT_TRUE(calls.files.empty());
}

TEST_F(AlarmSound, FileBesideTheProgramWinsOverTheWorkingFolder) {
  Touch(root_ / "prog" / "motion.wav");
  Touch(root_ / "work" / "motion.wav");
  Calls calls;
  Player(calls, false)->Play("motion.wav");
  EXPECT_EQ(calls.events, std::vector<std::string>{"motion.wav"});
  ASSERT_EQ(calls.files.size(), 1u);
  EXPECT_EQ(calls.files[0], progDir_ + "motion.wav");
}

TEST_F(AlarmSound, WorkingFolderIsTheSecondPlace) {
  Touch(root_ / "work" / "motion.wav");
  fs::create_directories(root_ / "prog" / "motion.wav");  // a folder of that name is no sound
  Calls calls;
  Player(calls, false)->Play("motion.wav");
  ASSERT_EQ(calls.files.size(), 1u);
  EXPECT_EQ(calls.files[0], workDir_ + "/motion.wav");
}

TEST_F(AlarmSound, MissingFileAndEmptyNamePlayNothing) {
  Calls calls;
  auto player = Player(calls, false);
  player->Play("absent.wav");
  EXPECT_TRUE(calls.files.empty());
  player->Play("");
  EXPECT_EQ(calls.events.size(), 1u) << "an empty name is not even tried as an event";
}

TEST_F(AlarmSound, AbsoluteNameIsUsedAsItStands) {
  const std::string abs = (root_ / "elsewhere.wav").string();
  Touch(abs);
  EXPECT_EQ(frame::SoundFileCandidates(abs, progDir_, workDir_), std::vector<std::string>{abs});
  Calls calls;
  Player(calls, false)->Play(abs);
  EXPECT_EQ(calls.files, std::vector<std::string>{abs});
}

TEST_F(AlarmSound, CandidatesComeInLookupOrder) {
  const auto c = frame::SoundFileCandidates("a/b.wav", "/opt/tollan/", "/home/u");
  EXPECT_EQ(c, (std::vector<std::string>{"/opt/tollan/a/b.wav", "/home/u/a/b.wav"}));
  // The settings folder comes first, and a folder is not tried twice.
  EXPECT_EQ(frame::SoundFileCandidates("a/b.wav", "/opt/tollan/", "/home/u", "/home/u/.config/tollan/"),
            (std::vector<std::string>{"/home/u/.config/tollan/a/b.wav", "/opt/tollan/a/b.wav", "/home/u/a/b.wav"}));
  EXPECT_EQ(frame::SoundFileCandidates("b.wav", "/opt/tollan/", "/home/u", "/opt/tollan/"),
            (std::vector<std::string>{"/opt/tollan/b.wav", "/home/u/b.wav"}));
  EXPECT_TRUE(frame::SoundFileCandidates("", "/x/", "/y").empty());
  EXPECT_EQ(frame::ResolveSoundFile("nothing.wav", progDir_, workDir_), "");
}

TEST(DesktopSound, PlayingOnAMachineWithoutSoundReturns) {
  // No assertion about audio: the call must come back and leave the process sound.
  auto player = frame::CreateDesktopSoundPlayer();
  ASSERT_NE(player, nullptr);
  player->Play("no-such-event-or-file.wav");
  player->Play("bell");
  player->Play("");
}

}  // namespace
