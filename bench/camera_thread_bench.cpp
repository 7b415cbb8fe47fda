// Frames per second of one camera's capture loop against the bare codec, in
// the same run:
//   "thread/<size>"  the capture thread: grab (a board copying the next frame
//                    of a short moving clip), motion detection, the recording
//                    decision (every frame records), MPEG-4 compression under
//                    the encoder lock and the hand-off to a sink that keeps
//                    nothing; the frame-period wait returns at once;
//   "codec/<size>"   the same clip copied into an image buffer and compressed
//                    by the camera's codec, nothing else.
// thread/codec is what the loop costs on top of compression. The counter
// "allocs/frame" is the number of heap allocations (malloc, calloc, realloc in
// any library of the process) per frame while the batches ran: the loop's own
// share of it must be nothing.
//
//   build-bench/bench/camera_thread_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "core/settings.h"
#include "pipeline/board.h"
#include "pipeline/camera.h"
#include "pipeline/camera_thread.h"
#include "pipeline/codec.h"
#include "pipeline/frame_sink.h"
#include "pipeline/image.h"

// Counting allocator: the program's own malloc family, which every shared
// library of the process binds to, forwarding to the C library's.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
}
namespace {
std::atomic<long> allocations{0};
}
extern "C" {
void* malloc(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(block, size);
}
}

namespace {

constexpr int kClipFrames = 8;

std::vector<std::vector<std::uint8_t>> makeClip(int width, int height) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (int f = 0; f < kClipFrames; ++f) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * height * 2);
    const int sx = 16 + f * 10, sy = 24 + f * 6;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint8_t* q = &p[(static_cast<std::size_t>(y) * width + x) * 2];
        const bool square = x >= sx && x < sx + 48 && y >= sy && y < sy + 48;
        q[0] = 128;
        q[1] = static_cast<std::uint8_t>(square ? 220 : 40 + ((x + 12 * f) % width) * 150 / width);
      }
    frames.push_back(std::move(p));
  }
  return frames;
}

// Copies clip frames on grab; counts grabs so that the benchmark can wait
// for a batch to go through.
class ClipBoard : public dvrBoard {
 public:
  const char* typeName() override { return "clipboard"; }
  bool grabFrame(int, dvrImage& image) override {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return budget_ > 0 || closed_; });
    if (closed_) return false;
    --budget_;
    const auto& frame = clip_[static_cast<std::size_t>(next_++ % kClipFrames)];
    if (std::uint8_t* to = image.buffer(dvrBUF_CURRENT))
      std::memcpy(to, frame.data(), std::min(frame.size(), image.frameBytes()));
    changed_.notify_all();
    return true;
  }
  void setClip(std::vector<std::vector<std::uint8_t>> clip) { clip_ = std::move(clip); }
  // Lets count more grabs through and waits until they are done and the
  // thread asks for the next one.
  void run(int count) {
    std::unique_lock<std::mutex> lock(lock_);
    budget_ = count;
    changed_.notify_all();
    changed_.wait(lock, [this] { return budget_ == 0; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(lock_);
    closed_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::vector<std::uint8_t>> clip_;
  int budget_ = 0;
  long next_ = 0;
  bool closed_ = false;
};

class BenchCamera : public dvrCamera {
 public:
  BenchCamera(dvrBoard* board, int width, int height) : dvrCamera(board) {
    settings().setInt("noclosewindow", 1);
    declareResolution();
    addResolution(width, height);
    declareFormat();
    addFormat(dvrFORMAT_UYVY);
    settings().setInt("format", dvrFORMAT_UYVY);
    settings().setInt("framerate", 25);
    settings().setText("recordbyruleC", "");
  }
  ~BenchCamera() override { stop(); }
};

class NullSink : public dvrFrameSink {
 public:
  bool put(const dvrFrameRecord&, const std::uint8_t*, int size) override {
    bytes += size;
    return true;
  }
  std::int64_t bytes = 0;
};

void BM_Thread(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  ClipBoard board;
  board.setClip(makeClip(width, height));
  BenchCamera camera(&board, width, height);
  camera.attachInput(0);
  camera.reinit();
  // Every frame records: continuous recording needs a rule set, so motion
  // recording with the whole clip moving stands in (the clip repeats every
  // eight frames and each differs from the one before).
  NullSink sink;
  dvrSetFrameSink(&sink);
  dvrCameraThread::Environment env = dvrCameraThread::systemEnvironment();
  env.sleep = [](int) {};
  dvrCameraThread thread(camera, env);
  thread.start();
  constexpr int kBatch = 50;
  board.run(kBatch);  // the codec's first frames set up its own buffers
  const long before = allocations.load();
  for (auto _ : state) board.run(kBatch);
  const long allocated = allocations.load() - before;
  board.release();
  thread.stop();
  dvrSetFrameSink(nullptr);
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["recorded"] = camera.statistics().framesRecorded;
  state.counters["allocs/frame"] =
      static_cast<double>(allocated) / static_cast<double>(state.iterations() * kBatch);
}

void BM_Codec(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const auto clip = makeClip(width, height);
  dvrImage image(width, height, dvrFORMAT_UYVY, 1);
  auto codec = dvrMakeCodec(&image, dvrCODEC_COMPRESS, "MPG4");
  codec->setQuality(50);
  codec->setFrameRate(25);
  if (!codec->open()) {
    state.SkipWithError("codec did not open");
    return;
  }
  constexpr int kBatch = 50;
  long next = 0;
  const long before = allocations.load();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      const auto& frame = clip[static_cast<std::size_t>(next++ % kClipFrames)];
      std::memcpy(image.buffer(dvrBUF_CURRENT), frame.data(), std::min(frame.size(), image.frameBytes()));
      benchmark::DoNotOptimize(codec->compress());
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["allocs/frame"] = static_cast<double>(allocations.load() - before) /
                                   static_cast<double>(state.iterations() * kBatch);
}

}  // namespace

BENCHMARK(BM_Thread)->Name("thread")->Args({352, 288})->Args({704, 576})->UseRealTime();
BENCHMARK(BM_Codec)->Name("codec")->Args({352, 288})->Args({704, 576})->UseRealTime();
BENCHMARK_MAIN();
