#include "recorder/camera/program_settings.h"

#include <array>
#include <optional>

#include "platform/ascii.h"

namespace recorder::camera {
namespace {

constexpr std::array kProgramFields{
    ProgramField{"keep-free", false, 0, 90, "0",
                 "PERCENT 0..90: keep this share of the recordings' file system free by deleting the oldest "
                 "recordings of all cameras together; 0 = off"},
    ProgramField{"on-event", true, 0, 0, "",
                 "COMMAND: a shell command run for every log event, with TOLLAN_CAMERA, TOLLAN_NAME, "
                 "TOLLAN_EVENT, TOLLAN_DETAIL and TOLLAN_TIME set; empty = none"},
    ProgramField{"offline-after", false, 1, 86400, "60",
                 "SECONDS 1..86400: a running camera without a picture for this long is logged as offline"},
};

constexpr size_t kMaxCommandLength = 4096;

bool ReadNumber(const ProgramRecords& records, std::string_view name, int32_t& value) {
  const ProgramField* f = FindProgramField(name);
  const auto it = records.find(std::string(name));
  std::string error;
  if (it == records.end() || !CheckProgramValue(*f, it->second, error)) return false;
  value = static_cast<int32_t>(*platform::ascii::ParseWhole(it->second));
  return true;
}

void Store(ProgramRecords& records, std::string_view name, const std::string& value) {
  const ProgramField* f = FindProgramField(name);
  if (value == f->defaultValue)
    records.erase(std::string(name));
  else
    records[std::string(name)] = value;
}

}  // namespace

std::span<const ProgramField> ProgramFieldTable() { return kProgramFields; }

const ProgramField* FindProgramField(std::string_view name) {
  for (const ProgramField& f : kProgramFields)
    if (f.name == name) return &f;
  return nullptr;
}

bool CheckProgramValue(const ProgramField& field, std::string_view text, std::string& error) {
  if (field.isText) {
    if (text.size() > kMaxCommandLength) {
      error = std::string(field.name) + ": at most " + std::to_string(kMaxCommandLength) + " characters";
      return false;
    }
    for (const char c : text) {
      if (c == '\n' || c == '\r' || c == '\0') {
        error = std::string(field.name) + ": line breaks are not allowed";
        return false;
      }
    }
    return true;
  }
  const std::optional<int64_t> value = platform::ascii::ParseWhole(text);
  if (!value || *value < field.min || *value > field.max) {
    error = std::string(field.name) + ": must be a whole number from " + std::to_string(field.min) + " to " +
            std::to_string(field.max);
    return false;
  }
  return true;
}

ProgramSettings ReadProgramSettings(const ProgramRecords& records) {
  ProgramSettings s;
  ReadNumber(records, "keep-free", s.keepFreePercent);
  ReadNumber(records, "offline-after", s.offlineAfterSeconds);
  const auto it = records.find("on-event");
  std::string error;
  if (it != records.end() && CheckProgramValue(*FindProgramField("on-event"), it->second, error))
    s.onEventCommand = it->second;
  return s;
}

void WriteProgramSettings(const ProgramSettings& settings, ProgramRecords& records) {
  Store(records, "keep-free", std::to_string(settings.keepFreePercent));
  Store(records, "offline-after", std::to_string(settings.offlineAfterSeconds));
  Store(records, "on-event", settings.onEventCommand);
}

}  // namespace recorder::camera
