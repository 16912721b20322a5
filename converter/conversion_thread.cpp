#include "converter/conversion_thread.h"

#include <unistd.h>

#include "converter/avi_writer.h"
#include "converter/conversion.h"
#include "converter/messages.h"
#include "converter/wmv_writer.h"

namespace converter {

namespace window = to_converter_window;

std::unique_ptr<CVideoWriter> CreateWriter(int videoType, const std::string& path, uint32_t frameRate) {
  const auto types = VideoTypes();
  if (videoType < 0 || size_t(videoType) >= types.size()) return nullptr;
  const VideoType& type = types[size_t(videoType)];
  if (type.writer == WriterKind::Wmv) return std::make_unique<CWmvWriter>(path, std::string(type.profile), frameRate);
  return std::make_unique<CAviWriter>(path, type.codecCode, frameRate);
}

CConversionThread::CConversionThread(ConversionRequest request) : request_(std::move(request)) {}

CConversionThread::~CConversionThread() = default;

platform::ThreadHandlePtr CConversionThread::Create(ConversionRequest request) {
  return MessageThread::CreateSuspended(std::make_unique<CConversionThread>(std::move(request)));
}

platform::ThreadHandlePtr CConversionThread::Start(ConversionRequest request) {
  return MessageThread::Start(std::make_unique<CConversionThread>(std::move(request)));
}

bool CConversionThread::InitInstance() { return platform::Post<to_conversion::ConvertStart>(Id()); }

void CConversionThread::OnMessage(platform::Message& msg) {
  if (platform::Is<to_conversion::ConvertCancel>(msg)) {
    cancel_ = true;
  } else if (platform::Is<to_conversion::ConvertClose>(msg)) {
    closing_ = true;
  } else if (finished_) {
    return;
  } else if (platform::Is<to_conversion::ConvertStart>(msg)) {
    Begin();
  } else if (platform::Is<to_conversion::ConvertNextFrame>(msg)) {
    NextFrame();
  }
}

void CConversionThread::Begin() {
  const std::string& input = request_.inputPath;
  const std::string& output = request_.outputPath;
  // Deleting the output first would delete the recording itself.
  if (IsSameFile(input, output)) return Finish(kResultSameFile, false);
  ::unlink(output.c_str());
  // Others may read the recording meanwhile, but not write it.
  if (!reader_.Open(input, media::CMjpgReader::Sharing::ReadOnly)) return Finish(kResultOpenError, false);
  ReportProgress();
  const int rate = ParseFrameRate(request_.frameRateText);
  if (rate < kFrameRateMin || rate > kFrameRateMax) return Finish(kResultRateInvalid, false);
  writer_ = CreateWriter(request_.videoType, output, uint32_t(rate));
  if (!writer_) return Finish(kResultWriterError, false);
  if (!reader_.ReadNextFrame(jpeg_)) return EndOfInput();
  platform::Post<to_conversion::ConvertNextFrame>(Id());
}

void CConversionThread::NextFrame() {
  const CVideoWriter::JpegResult appended = writer_->AppendJpeg(jpeg_.data(), jpeg_.size(), request_.directDecode);
  jpeg_.clear();
  if (appended == CVideoWriter::JpegResult::Undecodable) return EndOfInput();
  if (appended == CVideoWriter::JpegResult::WriterFailed) return StopEarly(kResultWriterError);
  if (cancel_) return StopEarly(kResultCanceled);
  if (closing_) return StopEarly(-1);
  ReportProgress();
  if (!reader_.ReadNextFrame(jpeg_)) return EndOfInput();
  platform::Post<to_conversion::ConvertNextFrame>(Id());
}

// No more frames, or one that cannot be read or decoded: complete when the reading
// got to the end of the file. An empty file has no end to get to.
void CConversionThread::EndOfInput() {
  writer_.reset();
  if (closing_) return Finish(-1, true);
  const bool atEnd = reader_.GetLength() > 0 && reader_.GetPositionFraction() == reader_.GetFractionRange();
  Finish(atEnd ? kResultComplete : kResultReadError, false);
}

// Canceled, closing or the writer failed: the frames written so far form a file
// that plays. A close asked for ends the program without a message.
void CConversionThread::StopEarly(int result) {
  writer_.reset();
  Finish(closing_ ? -1 : result, closing_);
}

// The writer is gone by now, so the output is finished before anyone hears of it.
void CConversionThread::Finish(int result, bool endProgram) {
  writer_.reset();
  reader_.Close();
  finished_ = true;
  if (result >= 0) platform::Post<window::ConvertResult>(request_.window, result);
  platform::Post<window::ConvertEnded>(request_.window, endProgram ? 1 : 0);
  PostQuit(0);
}

void CConversionThread::ReportProgress() {
  const int64_t frames = writer_ ? writer_->FramesWritten() : 0;
  platform::Post<window::ConvertProgress>(request_.window, reader_.GetPositionFraction(), intptr_t(frames));
}

}  // namespace converter
