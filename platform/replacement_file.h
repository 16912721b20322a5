#pragma once
// A file that takes the place of another only once it is complete: it is written
// under a temporary name in the target's folder (so the rename stays on one file
// system) and renamed over the target at Commit. Until then the target, if there
// is one, stays as it was; a file that is discarded, or dropped without a commit,
// is removed.
#include <string>

namespace platform {

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() { Discard(); }
  ReplacementFile(ReplacementFile&& other) noexcept;
  ReplacementFile& operator=(ReplacementFile&& other) noexcept;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file for `path`, open for reading and writing, with the
  // permissions of the file it replaces (else those a new file gets). A link is
  // followed to the file it names. An existing target that is not a regular file
  // is refused: EISDIR for a folder, EINVAL for a device or a pipe. False with the
  // system's error number in *error.
  bool Create(const std::string& path, int* error);
  bool IsOpen() const { return !tempPath_.empty(); }
  int Fd() const { return fd_; }
  // Closes the descriptor, for writers that open the temporary file by its path.
  void CloseFd();
  const std::string& TempPath() const { return tempPath_; }
  const std::string& Target() const { return target_; }

  // Closes the file and renames it over the target. False with *error when that
  // fails; the temporary file is then removed.
  bool Commit(int* error);
  // Closes and removes the temporary file; the target is not touched.
  void Discard();

 private:
  int fd_ = -1;
  std::string target_;
  std::string tempPath_;
};

// The words for an error of Create or Commit.
std::string ReplacementErrorText(int error);

}  // namespace platform
