#pragma once
// One FTP download of a whole file (the FTP camera source), through libcurl.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recorder/net/camera_url.h"

namespace recorder::net {

// Largest file accepted from an FTP camera; anything bigger is not a camera picture.
constexpr size_t kMaxFtpDownload = 16 * 1024 * 1024;
// A download that has not finished by then is given up, however slowly data still comes.
constexpr long kFtpTimeoutMs = 20000;

struct FtpRequest {
  // Asked while the download runs; true abandons it (a stop waits for the worker).
  std::function<bool()> stopRequested;
  // The whole download's time limit, measured by the caller's clock when it gives
  // timeUp (asked while the download runs; true ends it as timed out), else here.
  std::function<bool()> timeUp;
  long timeoutMs = kFtpTimeoutMs;
};

// Downloads address.path from address.host:port with the address's user name and
// password, in active mode and binary transfer. Returns false on any failure, with
// the reason in *error when given (empty when the download was abandoned for a stop).
bool FtpDownload(const CameraAddress& address, std::vector<uint8_t>& out, const FtpRequest& request = {},
                 std::string* error = nullptr);

}  // namespace recorder::net
