#pragma once
// The texts of the player's two status labels.
#include <cstdint>
#include <string>

namespace player {

constexpr const char* kVideoSizePrefix = " Video Size: ";
constexpr const char* kInvalidVideoFormat = " Invalid Video File Format!";
constexpr const char* kNoTimestamp = " No frame timestamp found";

// A byte count in the largest unit it reaches: "1023 bytes", "1.50 KB", "1.00 MB",
// on to EB, two decimals from KB on.
std::string SizeText(int64_t bytes);
// The size label's text for a file length.
std::string VideoSizeLabel(uint64_t length);
// A frame's time stamp (seconds since 1970, 0 = none) as local time, in the
// C locale: " Tue Jun 05 2007 (02:03:09 PM)". Stamps from 2^31 on keep their
// real date: the conversion uses 64-bit time.
std::string TimeStampText(uint32_t stamp);

}  // namespace player
