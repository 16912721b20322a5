#pragma once
// The conversion thread: reads every frame of a recording, decodes it and hands it
// to the writer of the chosen type, one frame per turn of its loop, so a cancel or
// a close is seen after each frame. It reports to a window by messages (messages.h).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "converter/video_writer.h"
#include "media/mjpg_reader.h"
#include "platform/message_thread.h"
#include "platform/replacement_file.h"

namespace converter {

struct ConversionRequest {
  std::string inputPath;
  std::string outputPath;
  int videoType = 0;                // index into VideoTypes()
  std::string frameRateText = "10";  // as typed: read by ParseFrameRate
  platform::WindowHandle window = 0;  // receives progress, the result and the end
  // Decode frames that need no scaling straight into the encoder's picture.
  bool directDecode = true;
};

// The writer for a type, made for one conversion.
std::unique_ptr<CVideoWriter> CreateWriter(int videoType, const std::string& path, uint32_t frameRate);
// Why this system cannot write a type (no encoder for it); "" when it can.
std::string WhyTypeCannotBeWritten(int videoType);

class CConversionThread : public platform::MessageThread {
 public:
  explicit CConversionThread(ConversionRequest request);
  ~CConversionThread() override;

  // Makes the thread suspended (posts to it are kept until it runs), or starts it.
  static platform::ThreadHandlePtr Create(ConversionRequest request);
  static platform::ThreadHandlePtr Start(ConversionRequest request);

 protected:
  bool InitInstance() override;
  void OnMessage(platform::Message& msg) override;

 private:
  void Begin();
  void NextFrame();
  void EndOfInput();
  void StopEarly(int result);
  // Finishes the writer and puts its file in the output's place; false, with the
  // reason in *detail, when that fails.
  bool KeepOutput(std::string* detail);
  void Finish(int result, bool endProgram, std::string detail = {});
  void ReportProgress();

  ConversionRequest request_;
  media::CMjpgReader reader_;
  std::unique_ptr<CVideoWriter> writer_;
  // The output, written under a temporary name beside it until the conversion ends.
  platform::ReplacementFile output_;
  std::vector<uint8_t> jpeg_;  // the frame read last, not yet written
  int64_t framesWritten_ = 0;
  uint64_t undecodable_ = 0;   // frames skipped because they could not be decoded
  bool cancel_ = false;
  bool closing_ = false;
  bool finished_ = false;
};

}  // namespace converter
