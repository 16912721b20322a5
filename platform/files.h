#pragma once
// Whole-buffer writes, whole-file reads and folder creation.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Writes all of data, retrying short writes and interruptions. Returns false on
// an error or a zero-length write; *written (when given) receives the bytes that
// did reach the descriptor either way.
bool WriteAll(int fd, const void* data, size_t length, size_t* written = nullptr);

enum class ReadFileResult { Ok, OpenFailed, NotRegularFile, ReadError };
// Reads a regular file whole. Anything but a regular file (a FIFO or a device,
// which could block or never end) is refused without reading. On ReadError `out`
// keeps the bytes read before the failure.
ReadFileResult ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);

// Everything up to and including the last '/', after trailing '/' are dropped; "" without one.
std::string SaveDirectoryOf(const std::string& path);
// Creates every missing level, 4 attempts 100 ms apart per level. An absolute path
// is created from the root down ("/" itself succeeds). Of a relative path the first
// component is taken as existing, and one of 2 characters or fewer fails.
bool CreateSaveDirectory(const std::string& directory);

// The system's text for an error number.
std::string ErrorText(int error);
// Why a file cannot be opened for reading, in the system's words ("No such file or
// directory", "Is a directory", "not a regular file"); "" when it can be.
std::string ReadFailureReason(const std::string& path);

}  // namespace platform
