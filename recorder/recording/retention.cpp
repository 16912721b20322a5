#include "recorder/recording/retention.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "media/mjpg.h"
#include "platform/ascii.h"

namespace recorder::recording {
namespace {

// One piece of a save path pattern.
struct Piece {
  enum Kind { Literal, Wild, WildWithSlash, Digits } kind = Literal;
  std::string text;  // Literal
};

// Time codes that can expand to text holding '/'.
bool CodeMayHoldSlash(char code) { return code == 'D' || code == 'x'; }

void AddLiteral(std::vector<Piece>& pieces, char c) {
  if (pieces.empty() || pieces.back().kind != Piece::Literal) pieces.push_back({Piece::Literal, {}});
  pieces.back().text += c;
}

// The template as literal text and wildcards: every strftime code is a wildcard
// ("%%", "%n" and "%t" stand for their characters).
std::vector<Piece> PiecesOf(const std::string& templ) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < templ.size(); ++i) {
    if (templ[i] != '%') {
      AddLiteral(pieces, templ[i]);
      continue;
    }
    size_t j = i + 1;
    while (j < templ.size() && (templ[j] == 'E' || templ[j] == 'O')) ++j;
    if (j >= templ.size()) {  // a lone '%' at the end stays as it is
      AddLiteral(pieces, '%');
      break;
    }
    const char code = templ[j];
    if (code == '%') {
      AddLiteral(pieces, '%');
    } else if (code == 'n') {
      AddLiteral(pieces, '\n');
    } else if (code == 't') {
      AddLiteral(pieces, '\t');
    } else {
      const Piece::Kind kind = CodeMayHoldSlash(code) ? Piece::WildWithSlash : Piece::Wild;
      if (pieces.empty() || pieces.back().kind != kind) pieces.push_back({kind, {}});
    }
    i = j;
  }
  return pieces;
}

bool MatchFrom(const std::vector<Piece>& pieces, size_t p, std::string_view s) {
  if (p == pieces.size()) return s.empty();
  const Piece& piece = pieces[p];
  switch (piece.kind) {
    case Piece::Literal:
      return s.substr(0, piece.text.size()) == piece.text && MatchFrom(pieces, p + 1, s.substr(piece.text.size()));
    case Piece::Digits: {
      size_t n = 0;
      while (n < s.size() && platform::ascii::IsDigit(s[n])) ++n;
      for (size_t k = n; k >= 1; --k)
        if (MatchFrom(pieces, p + 1, s.substr(k))) return true;
      return false;
    }
    case Piece::Wild:
    case Piece::WildWithSlash:
      for (size_t k = 0; k <= s.size(); ++k) {
        if (MatchFrom(pieces, p + 1, s.substr(k))) return true;
        if (k < s.size() && s[k] == '/' && piece.kind == Piece::Wild) return false;
      }
      return false;
  }
  return false;
}

// The numbered JPEG files' pattern: the template without its extension, "_N.jpg".
std::vector<Piece> JpgRingPieces(const std::string& templ) {
  std::string base = templ;
  const size_t dot = base.rfind('.');
  const size_t slash = base.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  std::vector<Piece> pieces = PiecesOf(base);
  for (const char c : std::string_view("_")) AddLiteral(pieces, c);
  pieces.push_back({Piece::Digits, {}});
  pieces.push_back({Piece::Literal, ".jpg"});
  return pieces;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

bool IsMjpgName(const std::string& path) { return platform::ascii::EndsWithNoCase(path, ".mjpg"); }

void Walk(const std::string& dir, int depth, const std::vector<Piece>& mjpg, const std::vector<Piece>& ring,
          LastFrameCache& cache, std::vector<RecordingFile>& out) {
  if (depth > 32) return;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    const std::string path = dir + e->d_name;
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Walk(path + "/", depth + 1, mjpg, ring, cache, out);
    } else if (S_ISREG(st.st_mode) && (MatchFrom(mjpg, 0, path) || MatchFrom(ring, 0, path))) {
      RecordingFile f;
      f.path = path;
      f.bytes = static_cast<uint64_t>(st.st_size);
      f.device = static_cast<uint64_t>(st.st_dev);
      const int64_t mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      f.lastFrameTime = IsMjpgName(path) ? cache.Get(path, f.bytes, mtimeNs) : 0;
      if (f.lastFrameTime <= 0) f.lastFrameTime = st.st_mtim.tv_sec;
      out.push_back(std::move(f));
    }
  }
  ::closedir(d);
}

}  // namespace

RetentionRoot RetentionRootOf(const std::string& templ, const std::string& home) {
  RetentionRoot result;
  const std::string prefix = templ.substr(0, templ.find('%'));
  const size_t slash = prefix.rfind('/');
  if (prefix.empty() || prefix[0] != '/' || slash == std::string::npos) {
    result.error = "the save path is not an absolute path";
    return result;
  }
  const std::string root = prefix.substr(0, slash + 1);
  if (root.find("/../") != std::string::npos || root.find("/./") != std::string::npos) {
    result.error = "the save path's folder holds . or .. parts";
    return result;
  }
  const std::string canonical = Canonical(root);
  if (canonical == "/" || root == "/") {
    result.error = "its save path's folder before the first time code is / itself";
    return result;
  }
  if (!home.empty() && canonical == Canonical(home)) {
    result.error = "its save path's folder before the first time code is the home folder itself";
    return result;
  }
  result.root = root;
  return result;
}

bool MatchesSavePath(const std::string& templ, const std::string& path) {
  return MatchFrom(PiecesOf(templ), 0, path) || MatchFrom(JpgRingPieces(templ), 0, path);
}

int64_t LastFrameCache::Get(const std::string& path, uint64_t size, int64_t mtimeNs) {
  const auto it = entries_.find(path);
  if (it != entries_.end() && it->second.size == size && it->second.mtimeNs == mtimeNs) {
    it->second.pass = pass_;
    return it->second.lastFrame;
  }
  const int64_t last = LastMjpgFrameTime(path);
  entries_[path] = Entry{size, mtimeNs, last, pass_};
  return last;
}

void LastFrameCache::EndPass() {
  std::erase_if(entries_, [this](const auto& entry) { return entry.second.pass != pass_; });
  ++pass_;
}

namespace {

// The last time-stamped whole frame that starts within the tail; 0 when none.
int64_t LastStampInTail(const std::vector<uint8_t>& tail) {
  for (size_t i = tail.size() >= 2 ? tail.size() - 1 : 0; i-- > 0;) {
    if (tail[i] != media::mjpg::kSoi[0] || tail[i + 1] != media::mjpg::kSoi[1]) continue;
    media::mjpg::FrameSpan span;
    if (media::mjpg::CutFrame(tail.data() + i, tail.size() - i, span) && span.timestamp != 0) return span.timestamp;
  }
  return 0;
}

}  // namespace

int64_t LastMjpgFrameTime(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  int64_t result = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    // The last frame starts within the tail: a small one first, then one that
    // holds the largest frames a camera gives; past that the file time serves.
    for (const off_t want : {off_t(256) << 10, off_t(8) << 20}) {
      const off_t start = st.st_size > want ? st.st_size - want : 0;
      std::vector<uint8_t> tail(static_cast<size_t>(st.st_size - start));
      const ssize_t got = ::pread(fd, tail.data(), tail.size(), start);
      if (got <= 0) break;
      tail.resize(static_cast<size_t>(got));
      result = LastStampInTail(tail);
      if (result != 0 || start == 0) break;
    }
  }
  ::close(fd);
  return result;
}

std::vector<RecordingFile> FindRecordings(const std::string& templ, const std::string& root, LastFrameCache& cache) {
  std::vector<RecordingFile> files;
  if (root.empty() || root.back() != '/') return files;
  Walk(root, 0, PiecesOf(templ), JpgRingPieces(templ), cache, files);
  std::sort(files.begin(), files.end(), [](const RecordingFile& a, const RecordingFile& b) {
    return a.lastFrameTime != b.lastFrameTime ? a.lastFrameTime < b.lastFrameTime : a.path < b.path;
  });
  return files;
}

bool RecordingInUse(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

RemoveResult RemoveRecording(const std::string& path, const std::string& root) {
  if (root.size() < 2 || root.back() != '/' || path.size() <= root.size() || path.compare(0, root.size(), root) != 0 ||
      path.find("/../", root.size() - 1) != std::string::npos)
    return RemoveResult::Failed;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return RemoveResult::Failed;
  RemoveResult result = RemoveResult::Failed;
  struct stat opened {
  }, named{};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    result = RemoveResult::Failed;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    result = errno == EWOULDBLOCK ? RemoveResult::InUse : RemoveResult::Failed;
  } else if (::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino &&
             ::unlink(path.c_str()) == 0) {
    // Unlinked while the probe lock is ours: no recorder can have opened it meanwhile.
    result = RemoveResult::Removed;
  }
  ::close(fd);
  if (result != RemoveResult::Removed) return result;
  // Folders left empty go, up to the root.
  std::string dir = path.substr(0, path.rfind('/') + 1);
  while (dir.size() > root.size() && dir.compare(0, root.size(), root) == 0) {
    dir.pop_back();
    if (::rmdir(dir.c_str()) != 0) break;
    dir.resize(dir.rfind('/') + 1);
  }
  return result;
}

std::vector<RecordingFile> ApplyCameraLimits(const std::vector<RecordingFile>& files, int32_t keepDays,
                                             uint64_t keepBytes, int64_t now, const Remover& remover) {
  std::vector<RecordingFile> removed;
  std::vector<bool> gone(files.size(), false);
  uint64_t total = 0;
  for (const RecordingFile& f : files) total += f.bytes;
  if (keepDays > 0) {
    const int64_t oldest = now - int64_t(keepDays) * 86400;
    for (size_t i = 0; i < files.size(); ++i) {
      if (files[i].lastFrameTime >= oldest) continue;
      if (remover(files[i]) == RemoveResult::Removed) {
        gone[i] = true;
        total -= files[i].bytes;
        removed.push_back(files[i]);
      }
    }
  }
  if (keepBytes > 0) {
    for (size_t i = 0; i < files.size() && total > keepBytes; ++i) {
      if (gone[i]) continue;
      if (remover(files[i]) == RemoveResult::Removed) {
        total -= files[i].bytes;
        removed.push_back(files[i]);
      }
    }
  }
  return removed;
}

std::string OutgrowWarning(const std::string& templ, bool saveAsMjpg, uint64_t keepBytes,
                           const std::vector<RecordingFile>& files) {
  if (!saveAsMjpg || keepBytes == 0 || templ.find("%H") != std::string::npos) return {};
  // The newest file that no recorder holds is the last whole one.
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    if (!IsMjpgName(it->path) || RecordingInUse(it->path)) continue;
    if (it->bytes * 4 <= keepBytes) return {};
    std::string hourly = templ;
    const size_t dot = hourly.rfind('.');
    const size_t slash = hourly.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
      hourly.insert(dot, "_%H");
    else
      hourly += "_%H";
    return "One recording file can outgrow keepMegabytes: the last whole file, " + it->path + ", took " +
           std::to_string(it->bytes >> 20) +
           " MB, more than a quarter of the limit, and the file being written is never cut. "
           "An hourly save path such as " +
           hourly + " keeps the limit.";
  }
  return {};
}

std::string RetentionWarning(const camera::CameraRecord& c, const std::string& home) {
  if (c.keepDays <= 0 && c.keepMegabytes <= 0) return {};
  const std::string templ = camera::GetText(c.savePath);
  const RetentionRoot scope = RetentionRootOf(templ, home);
  if (scope.root.empty())
    return "No retention for this camera: " + scope.error +
           ". Give it a folder of its own, such as ~/Cameras/%A/video.mjpg.";
  LastFrameCache cache;
  return OutgrowWarning(templ, c.saveAsMjpg != 0, uint64_t(c.keepMegabytes) << 20,
                        FindRecordings(templ, scope.root, cache));
}

}  // namespace recorder::recording
