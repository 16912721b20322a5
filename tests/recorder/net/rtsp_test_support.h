#pragma once
// What the RTSP tests share: whether the RTSP test camera can run here.
#include <gtest/gtest.h>

#include <string>

#include "tools/rtspcam/rtspcam_process.h"

namespace rtsp_test {

// Empty when the RTSP test camera can run; else why not (asked once).
inline const std::string& CameraUnavailable() {
  static const std::string why = rtspcam::Unavailable();
  return why;
}

}  // namespace rtsp_test

#define SKIP_WITHOUT_RTSP_CAMERA()                                                        \
  do {                                                                                    \
    if (!rtsp_test::CameraUnavailable().empty())                                          \
      GTEST_SKIP() << "no RTSP test camera: " << rtsp_test::CameraUnavailable();          \
  } while (0)
