// Write throughput of the page-file store against the disk's own limit, in
// the same run and directory:
//   "store/<payload>"  frames handed to the store (enqueueFrame) and written by
//                      its writer thread into page files, with every index row
//                      committed and the page files forced to disk at the end;
//   "plain/<payload>"  the same record bytes written sequentially with write()
//                      into one file, forced to disk at the end.
// bytes_per_second of store/plain is what the store costs on top of the disk.
//
//   build-bench/bench/store_bench [--benchmark_repetitions=3]
// TAVEL_BENCH_DIR picks the directory (default: the system's temporary one).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "storage/file_system.h"
#include "storage/record.h"

namespace {

constexpr int kFrames = 2000;

std::filesystem::path benchDir() {
  const char* chosen = std::getenv("TAVEL_BENCH_DIR");
  auto dir = std::filesystem::path(chosen ? chosen : std::filesystem::temp_directory_path().string()) /
             ("tavel-store-bench-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

void BM_Store(benchmark::State& state) {
  const auto payloadSize = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint8_t> payload(payloadSize, 0x3c);
  const auto dir = benchDir();
  dvrSetBaseDirectory(dir.string());
  for (auto _ : state) {
    dvrFileSystem store({{'D', 4}});
    store.start();
    for (int i = 0; i < kFrames; ++i) {
      dvrFrameRecord r;
      r.header.payloadSize = payloadSize;
      r.header.setFourcc("MPG4");
      r.seconds = 1170000000 + i / 25;
      r.milliseconds = static_cast<std::uint16_t>(i % 25 * 40);
      r.input = i % 16;
      while (!store.enqueueFrame(payload.data(), r)) std::this_thread::yield();  // the camera thread's retry
    }
    store.stop();  // writes the rest, commits every row, forces the page files to disk
  }
  state.SetBytesProcessed(state.iterations() * kFrames * (payloadSize + dvrRECORD_PREFIX_SIZE));
  std::filesystem::remove_all(dir);
}

void BM_Plain(benchmark::State& state) {
  const auto payloadSize = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> record(payloadSize + dvrRECORD_PREFIX_SIZE, 0x3c);
  const auto dir = benchDir();
  const std::string path = (dir / "plain.tt").string();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int i = 0; i < kFrames; ++i)
      if (::write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size())) state.SkipWithError("write");
    ::fdatasync(fd);
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * kFrames * static_cast<std::int64_t>(record.size()));
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_Store)->Name("store")->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Plain)->Name("plain")->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
