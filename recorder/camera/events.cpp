#include "recorder/camera/events.h"

#include <iterator>

#include "recorder/camera/messages.h"

namespace recorder::camera {

const char* StatusText(int32_t status) {
  static const char* const kTexts[] = {"Connecting...",    "Started",          "Init Failed",
                                       "Dir Create Failed", "Open File Failed", "Diskfull",
                                       "Soc Create Failed", "Xmt Failed"};
  if (status < 0 || status > 7) return nullptr;
  return kTexts[status];
}

const char* EventText(int32_t code) {
  static const char* const kTexts[] = {
      "Logfile started...",
      "Failed to create directory:",
      "Failed to create mjpg file:",
      "Frame was dropped, file:",
      "Failed to create jpg file:",
      "Error Converting DIB to JPG, file:",
      "JPG DQT Table not found, file:",
      "Write error, the disk may be full, file:",
      "Socket connect failed, will retry every 10sec, Server:",
      "Failed to Init the local camera, file:",
      "Socket thread started, URL:",
      "Local camera thread started, file:",
      "Socket thread exited, URL:",
      "Local camera thread exited, file:",
      "ReEstablished Socket Connection, Server:",
      "EOI Not Found and JPG Buffer Full: Restarting Socket, Server:",
      "JPG Buffer Full and No Image Found: Exiting Socket, Server:",
      "Socket Error or socket may have been remotely closed, Server:",
      "Image could not be decoded, Server:",
      "Camera answered with an error, Server:",
      "FTP download failed, Server:",
      "Recording removed to stay within limits, file:",
      "No retention for this save path:",
      "Camera offline, no picture for:",
      "Camera back online after:",
      "Motion started, file:",
      "Motion ended, file:",
      "Event command killed after its time limit, event:",
  };
  if (code < 0 || code >= static_cast<int32_t>(std::size(kTexts))) return "";
  return kTexts[code];
}

bool PostLogEvent(platform::ThreadId logThread, int32_t code, const std::string& argument,
                  platform::ThreadId source) {
  if (argument.empty()) return platform::Post<to_log::LogEvent>(logThread, code, source);
  return platform::Post<to_log::LogEvent>(logThread, code, source, argument);
}

}  // namespace recorder::camera
