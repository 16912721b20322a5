// The frame reader on a 20 MB and a 2 GB recording, both made in /tmp when the
// benchmark starts and deleted when it ends: opening with the first frame, seeking
// to random places and reading frames in order. No index is built and no pass over
// the file is made, so each figure should be the same for both sizes.
//
// Other modes, for player_bench.sh:
//   bench_reader --make FILE MIB   writes a recording of about MIB MiB
//   bench_reader --extract FILE OUT
//       extracts the first half of FILE into OUT through the playback thread,
//       with the marks and the copy loop the player uses, and prints
//       "BYTES SECONDS" of the copy alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/frame_messages.h"
#include "media/mjpg.h"
#include "media/mjpg_reader.h"
#include "platform/window_registry.h"
#include "player/messages.h"
#include "player/video_thread.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A frame laid out as an encoder's: headers, then scan data of `size` bytes in
// which FF appears only stuffed (FF 00), as often as in real pictures.
Bytes Picture(size_t size, uint32_t seed) {
  Bytes j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
  j.resize(j.size() + 14, 0x01);
  j.insert(j.end(), {0xFF, 0xDB, 0x00, 0x84});
  j.resize(j.size() + 130, 0x02);
  j.insert(j.end(), {0xFF, 0xC0, 0x00, 0x11});
  j.resize(j.size() + 15, 0x03);
  j.insert(j.end(), {0xFF, 0xDA, 0x00, 0x0C});
  j.resize(j.size() + 10, 0x00);
  uint32_t r = seed * 2654435761u + 1;
  while (j.size() < size) {
    r = r * 1664525u + 1013904223u;
    const uint8_t b = uint8_t(r >> 24);
    j.push_back(b);
    if (b == 0xFF) j.push_back(0x00);
  }
  j.insert(j.end(), {0xFF, 0xD9});
  return j;
}

// Writes frames of 40 to 80 KB, stamped a second apart, up to about `bytes`.
bool MakeRecording(const std::string& path, uint64_t bytes) {
  std::vector<Bytes> pictures;
  for (uint32_t i = 0; i < 64; ++i) pictures.push_back(Picture(40000 + (i * 7919) % 40000, i));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  uint64_t written = 0;
  for (uint32_t n = 0; written < bytes; ++n) {
    const Bytes& p = pictures[n % pictures.size()];
    if (media::mjpg::WriteFrame(fd, p.data(), p.size(), 1700000000u + n) != media::mjpg::WriteResult::Ok) {
      ::close(fd);
      return false;
    }
    written += p.size() + 15;
  }
  return ::close(fd) == 0;
}

std::vector<std::string> g_files;  // 20 MB, 2 GB

// The file of the benchmark's argument, its size in MB.
const std::string& File(const benchmark::State& state) { return g_files[state.range(0) == 20 ? 0 : 1]; }

void BM_OpenAndFirstFrame(benchmark::State& state) {
  const std::string& path = File(state);
  Bytes jpeg;
  for (auto _ : state) {
    media::CMjpgReader reader;
    if (!reader.Open(path) || !reader.ReadNextFrame(jpeg)) state.SkipWithError("no first frame");
  }
}

void BM_SeekToFraction(benchmark::State& state) {
  media::CMjpgReader reader;
  if (!reader.Open(File(state))) state.SkipWithError("cannot open");
  Bytes jpeg;
  uint32_t r = 12345;
  for (auto _ : state) {
    r = r * 1664525u + 1013904223u;
    if (!reader.SeekToFraction(int(r % 86000), jpeg)) state.SkipWithError("seek found no frame");
  }
}

void BM_ReadNextFrame(benchmark::State& state) {
  media::CMjpgReader reader;
  if (!reader.Open(File(state))) state.SkipWithError("cannot open");
  Bytes jpeg;
  int64_t bytes = 0;
  for (auto _ : state) {
    if (!reader.ReadNextFrame(jpeg)) reader.SeekToFraction(0, jpeg);
    bytes += int64_t(jpeg.size());
  }
  state.SetBytesProcessed(bytes);
}

BENCHMARK(BM_OpenAndFirstFrame)->ArgName("MB")->Arg(20)->Arg(2048);
BENCHMARK(BM_SeekToFraction)->ArgName("MB")->Arg(20)->Arg(2048);
BENCHMARK(BM_ReadNextFrame)->ArgName("MB")->Arg(20)->Arg(2048);

// Extracts the first half of a file by the player's own messages; the time is
// that of the copy, from the request to the copy's end.
int Extract(const std::string& path, const std::string& out) {
  using namespace player::to_video_thread;
  using namespace player::to_player_window;
  platform::CollectingWindowTarget target;
  const platform::WindowHandle window = platform::RegisterWindow(&target);
  player::VideoThreadSetup setup;
  setup.path = path;
  setup.mainWindow = window;
  setup.picture = window;
  setup.playOnOpen = false;
  auto thread = player::CVideoThread::Create(setup);
  platform::MessageThread::Resume(thread);
  // Waits for a notice or the copy's end; the code, or -1 when the thread ended.
  auto wait = [&](auto done) {
    for (;;) {
      if (!target.WaitForCount(1, 1000)) {
        if (thread->Finished()) return false;
        continue;
      }
      for (platform::Message& m : target.TakeAll())
        if (done(m)) return true;
    }
  };
  const auto isNotice = [](int code) {
    return [code](const platform::Message& m) { return platform::Is<PLAYER_NOTICE>(m) && m.wParam == code; };
  };
  // The file is open once its first frame is shown.
  if (!wait([](const platform::Message& m) { return platform::Is<media::ShowFrame>(m) && m.wParam == 1; })) return 1;
  platform::Post<VT_MARK_START>(thread->Id());
  platform::Post<VT_SEEK>(thread->Id(), 43200);
  platform::Post<VT_MARK_END>(thread->Id());
  if (!wait(isNotice(2))) return 1;
  const auto start = std::chrono::steady_clock::now();
  platform::Post<VT_EXTRACT>(thread->Id(), 0, 0, player::EditFiles{"", out});
  bool failed = false;
  wait([&](const platform::Message& m) {
    // Every notice here is a failure; those before the copy end the edit at once.
    if (platform::Is<PLAYER_NOTICE>(m)) failed = true;
    return (platform::Is<PLAYER_COPYING>(m) && m.wParam == 0) || (platform::Is<PLAYER_NOTICE>(m) && m.wParam != 8);
  });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  platform::Post<VT_CLOSE>(thread->Id());
  thread->Wait(-1);
  platform::UnregisterWindow(window);
  media::CMjpgReader reader;
  if (failed || !reader.Open(out)) return 1;
  std::printf("%llu %.3f\n", static_cast<unsigned long long>(reader.GetLength()), seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--make")
    return MakeRecording(argv[2], std::strtoull(argv[3], nullptr, 10) << 20) ? 0 : 1;
  if (argc == 4 && std::string(argv[1]) == "--extract") return Extract(argv[2], argv[3]);

  char dir[] = "/tmp/bench_reader_XXXXXX";
  if (!::mkdtemp(dir)) return 1;
  g_files = {std::string(dir) + "/20MB.mjpg", std::string(dir) + "/2GB.mjpg"};
  int status = 1;
  if (MakeRecording(g_files[0], uint64_t(20) << 20) && MakeRecording(g_files[1], uint64_t(2) << 30)) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    status = 0;
  } else {
    std::fprintf(stderr, "cannot write the recordings in %s\n", dir);
  }
  for (const std::string& f : g_files) ::unlink(f.c_str());
  ::rmdir(dir);
  return status;
}
