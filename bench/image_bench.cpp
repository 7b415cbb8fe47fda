// Image buffer benchmarks: motion detection per captured frame with the
// reference update that follows it, by the default scan and by the per-byte
// loops, on one image and on a set of cameras taken in turn, and every
// conversion of the conversion table per 704 x 576 frame. The "fps" counter
// is frames per second on one core.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "pipeline/image.h"

namespace {

// Moves a bright square across a grey UYVY background: the old square is
// painted back to grey and the new one drawn (an eighth of the picture wide;
// BM_MovingSquare times this part alone, to be taken off the detection times).
class MovingSquare {
 public:
  MovingSquare(dvrImage& image, int side) : image_(image), side_(side) {
    std::uint8_t* f = image.buffer(dvrBUF_CURRENT);
    for (std::size_t i = 0; i < image.frameBytes(); i += 2) {
      f[i] = 128;
      f[i + 1] = background(static_cast<int>(i / 2 / image.width()));
    }
  }
  void step() {
    paint(x_, y_, -1);
    x_ = (x_ + 5) % (image_.width() - side_);
    y_ = (y_ + 3) % (image_.height() - side_);
    paint(x_, y_, 200);
  }

 private:
  static std::uint8_t background(int row) { return static_cast<std::uint8_t>(60 + row % 7); }
  void paint(int x0, int y0, int luma) {
    std::uint8_t* f = image_.buffer(dvrBUF_CURRENT);
    for (int y = y0; y < y0 + side_; ++y)
      for (int x = x0; x < x0 + side_; ++x) {
        const std::size_t at = (static_cast<std::size_t>(y) * image_.width() + x) * 2 + 1;
        f[at] = luma >= 0 ? static_cast<std::uint8_t>(luma) : background(y);
      }
  }
  dvrImage& image_;
  int side_;
  int x_ = 0, y_ = 0;
};

void BM_DetectMotion(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  dvrImage image(w, h, dvrFORMAT_UYVY);
  image.setPlainMotionScan(state.range(2) != 0);
  MovingSquare square(image, w / 8);
  image.updateReference();
  int reported = 0;
  for (auto _ : state) {
    square.step();
    // As the camera does with motion detection on: the frame becomes the reference.
    reported += image.detectMotion(2, 4, 8, 5, 7) > 0;
    image.updateReference();
  }
  // The count feeds a counter, which keeps the calls alive. (DoNotOptimize on
  // this int is avoided: with g++ 12 at -O3 the installed benchmark's
  // constraint "+m,r" lost the increments.)
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
  state.counters["reported"] = static_cast<double>(reported) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DetectMotion)
    ->ArgNames({"width", "height", "plain"})
    ->Args({704, 576, 0})
    ->Args({704, 576, 1})
    ->Args({352, 288, 0})
    ->Args({352, 288, 1});

// The same per frame, but over a set of cameras taken in turn, as the
// recorder does: by the time a camera's next frame comes, its reference has
// left the cache. The square painting is included (BM_MovingSquare).
void BM_DetectMotionCameras(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int cameras = static_cast<int>(state.range(2));
  std::vector<std::unique_ptr<dvrImage>> images;
  std::vector<std::unique_ptr<MovingSquare>> squares;
  for (int i = 0; i < cameras; ++i) {
    images.push_back(std::make_unique<dvrImage>(w, h, dvrFORMAT_UYVY));
    squares.push_back(std::make_unique<MovingSquare>(*images.back(), w / 8));
    images.back()->updateReference();
  }
  int reported = 0, next = 0;
  for (auto _ : state) {
    dvrImage& image = *images[next];
    squares[next]->step();
    reported += image.detectMotion(2, 4, 8, 5, 7) > 0;
    image.updateReference();
    next = (next + 1) % cameras;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
  state.counters["reported"] = static_cast<double>(reported) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DetectMotionCameras)
    ->ArgNames({"width", "height", "cameras"})
    ->Args({352, 288, 32})
    ->Args({352, 288, 128})
    ->Args({704, 576, 32});

void BM_MovingSquare(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  dvrImage image(w, h, dvrFORMAT_UYVY);
  MovingSquare square(image, w / 8);
  for (auto _ : state) {
    square.step();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MovingSquare)->ArgNames({"width", "height"})->Args({704, 576})->Args({352, 288});

void BM_Convert(benchmark::State& state) {
  constexpr int w = 704, h = 576;
  const int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
  dvrImage image(w, h, from);
  std::vector<std::uint8_t> src(static_cast<std::size_t>(w) * h * 4), dst(src.size()),
      scratch(src.size());
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>((i * 131) >> 3);
  for (auto _ : state) {
    image.convert(from, to, src.data(), dst.data(), scratch.data());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Convert)
    ->ArgNames({"from", "to"})
    ->Args({dvrFORMAT_UYVY, dvrFORMAT_RGB24})
    ->Args({dvrFORMAT_UYVY, dvrFORMAT_YUV422P})
    ->Args({dvrFORMAT_UYVY, dvrFORMAT_YUV420P})
    ->Args({dvrFORMAT_UYVY, dvrFORMAT_DIB24})
    ->Args({dvrFORMAT_RGB24, dvrFORMAT_UYVY})
    ->Args({dvrFORMAT_RGB24, dvrFORMAT_YUV422P})
    ->Args({dvrFORMAT_RGB24, dvrFORMAT_YUV420P})
    ->Args({dvrFORMAT_RGB24, dvrFORMAT_DIB24})
    ->Args({dvrFORMAT_BGR24, dvrFORMAT_RGB24})
    ->Args({dvrFORMAT_BGR24, dvrFORMAT_YUV422P})
    ->Args({dvrFORMAT_BGR24, dvrFORMAT_YUV420P})
    ->Args({dvrFORMAT_BGR24, dvrFORMAT_DIB24})
    ->Args({dvrFORMAT_YUV422P, dvrFORMAT_UYVY})
    ->Args({dvrFORMAT_YUV422P, dvrFORMAT_RGB24})
    ->Args({dvrFORMAT_YUV420P, dvrFORMAT_UYVY})
    ->Args({dvrFORMAT_YUV420P, dvrFORMAT_RGB24});

}  // namespace

BENCHMARK_MAIN();
