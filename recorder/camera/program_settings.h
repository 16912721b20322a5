#pragma once
// Program-wide settings kept in the program part of the settings file's
// extension section (name=value records): the free share of the recordings'
// file system, the event command and the offline time. Each is one row with its
// range and default, read and written as text like the camera fields; a value
// equal to its default is not written.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "recorder/camera/settings_file.h"

namespace recorder::camera {

struct ProgramSettings {
  int32_t keepFreePercent = 0;  // 0 = off
  std::string onEventCommand;   // empty = no command
  int32_t offlineAfterSeconds = 60;
};

struct ProgramField {
  std::string_view name;  // record name, and the command-line option without "--"
  bool isText = false;
  int64_t min = 0;  // numbers only
  int64_t max = 0;
  std::string_view defaultValue;
  std::string_view help;
};

std::span<const ProgramField> ProgramFieldTable();
const ProgramField* FindProgramField(std::string_view name);

// Checks a typed value; false with `error` naming the setting.
bool CheckProgramValue(const ProgramField& field, std::string_view text, std::string& error);

// The settings the records hold; a missing or unreadable record gives the default.
ProgramSettings ReadProgramSettings(const ProgramRecords& records);
// Stores the settings into the records, removing those that hold their default
// and leaving records of other names as they are.
void WriteProgramSettings(const ProgramSettings& settings, ProgramRecords& records);

}  // namespace recorder::camera
