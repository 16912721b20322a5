#include "converter/conversion_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "converter/avi_writer.h"
#include "converter/conversion.h"
#include "converter/messages.h"
#include "converter/wmv_writer.h"
#include "platform/files.h"

namespace converter {

namespace window = to_converter_window;

std::string WhyTypeCannotBeWritten(int videoType) {
  const auto types = VideoTypes();
  if (videoType < 0 || size_t(videoType) >= types.size()) return "There is no such video type.";
  const VideoType& type = types[size_t(videoType)];
  const bool installed = type.writer == WriterKind::Wmv ? CWmvWriter::EncoderInstalled(type.profile)
                                                        : CAviWriter::CodecInstalled(type.codecCode);
  if (installed) return "";
  return std::string("This system has no encoder for \"") + type.text + "\" videos.";
}

namespace {

// Why the recording cannot be opened; the converter also refuses a file that
// another program holds locked for writing.
std::string OpenFailureReason(const std::string& path) {
  const std::string why = platform::ReadFailureReason(path);
  return why.empty() ? "another program is writing it" : why;
}

}  // namespace

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
  // Everything that can refuse the conversion is checked before the output is
  // touched, and the output is written beside its place: an old file there stays
  // as it was until a conversion has something to put in its place.
  if (IsSameFile(input, output)) return Finish(kResultSameFile, false);
  // Others may read the recording meanwhile, but not write it.
  if (!reader_.Open(input, media::CMjpgReader::Sharing::ReadOnly)) {
    return Finish(kResultOpenError, false, input + ": " + OpenFailureReason(input));
  }
  ReportProgress();
  const int rate = ParseFrameRate(request_.frameRateText);
  if (rate < kFrameRateMin || rate > kFrameRateMax) return Finish(kResultRateInvalid, false);
  if (const std::string why = WhyTypeCannotBeWritten(request_.videoType); !why.empty())
    return Finish(kResultWriterError, false, why);
  int error = 0;
  if (!output_.Create(output, &error)) return Finish(kResultWriterError, false, output + ": " + platform::ReplacementErrorText(error));
  output_.CloseFd();  // the writer opens it by name
  writer_ = CreateWriter(request_.videoType, output_.TempPath(), uint32_t(rate));
  if (!writer_) return Finish(kResultWriterError, false);
  if (!reader_.ReadNextFrame(jpeg_)) return EndOfInput();
  platform::Post<to_conversion::ConvertNextFrame>(Id());
}

void CConversionThread::NextFrame() {
  const CVideoWriter::JpegResult appended = writer_->AppendJpeg(jpeg_.data(), jpeg_.size(), request_.directDecode);
  jpeg_.clear();
  // A frame that cannot be decoded is skipped; the result counts it.
  if (appended == CVideoWriter::JpegResult::Undecodable) ++undecodable_;
  if (appended == CVideoWriter::JpegResult::WriterFailed) return StopEarly(kResultWriterError);
  framesWritten_ = writer_->FramesWritten();
  if (cancel_) return StopEarly(kResultCanceled);
  if (closing_) return StopEarly(-1);
  ReportProgress();
  if (!reader_.ReadNextFrame(jpeg_)) return EndOfInput();
  platform::Post<to_conversion::ConvertNextFrame>(Id());
}

bool CConversionThread::KeepOutput(std::string* detail) {
  writer_.reset();  // finishes the file
  if (framesWritten_ == 0) {
    output_.Discard();
    return false;
  }
  int error = 0;
  if (output_.Commit(&error)) return true;
  *detail = request_.outputPath + ": " + platform::ReplacementErrorText(error);
  return false;
}

// No more frames: complete when the reading got to the end of the file. The reader
// reads past damage, so short of the end means the file could not be read on.
void CConversionThread::EndOfInput() {
  std::string detail;
  const bool atEnd = reader_.GetLength() > 0 && reader_.GetPositionFraction() == reader_.GetFractionRange();
  const media::CMjpgReader::Damage damage = reader_.GetDamage();
  if (closing_) {
    KeepOutput(&detail);
    return Finish(-1, true);
  }
  if (!atEnd) {
    output_.Discard();
    writer_.reset();
    return Finish(kResultReadError, false, request_.inputPath + ": " + platform::ErrorText(EIO));
  }
  const bool kept = KeepOutput(&detail);
  if (!kept && !detail.empty()) return Finish(kResultWriterError, false, detail);
  if (!kept) return Finish(kResultReadError, false, request_.inputPath + ": no frame in it could be converted");
  const uint64_t frames = damage.framesSkipped + undecodable_;
  if (frames == 0 && !damage.Any()) return Finish(kResultComplete, false);
  Finish(kResultDamaged, false, DamageText(frames, damage.bytesSkipped, damage.firstOffset));
}

// Canceled, closing or the writer failed. A cancel or a close keeps the frames
// written so far as a file that plays; a failed writer leaves the old output.
void CConversionThread::StopEarly(int result) {
  std::string detail;
  if (result == kResultWriterError && !closing_) {
    if (writer_) detail = writer_->GetLastError();
    writer_.reset();
    output_.Discard();
    return Finish(result, false, detail);
  }
  if (!KeepOutput(&detail) && !detail.empty() && !closing_) return Finish(kResultWriterError, false, detail);
  Finish(closing_ ? -1 : result, closing_);
}

// The writer is gone by now, so the output is finished before anyone hears of it.
void CConversionThread::Finish(int result, bool endProgram, std::string detail) {
  writer_.reset();
  output_.Discard();  // nothing when it was kept
  reader_.Close();
  finished_ = true;
  if (result >= 0) platform::Post<window::ConvertResult>(request_.window, result, 0, std::move(detail));
  platform::Post<window::ConvertEnded>(request_.window, endProgram ? 1 : 0);
  PostQuit(0);
}

void CConversionThread::ReportProgress() {
  const int64_t frames = writer_ ? writer_->FramesWritten() : 0;
  platform::Post<window::ConvertProgress>(request_.window, reader_.GetPositionFraction(), intptr_t(frames));
}

}  // namespace converter
