#pragma once
// One FTP download of a whole file (the FTP camera source), through libcurl.
#include <cstdint>
#include <string>
#include <vector>

#include "recorder/net/camera_url.h"

namespace recorder::net {

// Largest file accepted from an FTP camera; anything bigger is not a camera picture.
constexpr size_t kMaxFtpDownload = 16 * 1024 * 1024;

// Downloads address.path from address.host:port with the address's user name and
// password, in active mode and binary transfer. Returns false on any failure.
bool FtpDownload(const CameraAddress& address, std::vector<uint8_t>& out);

}  // namespace recorder::net
