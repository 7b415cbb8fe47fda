#include "platform/cat3di/cat3di.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/cat3di/sim_files.h"
#include "platform/cat3di/sim_pacing.h"
#include "platform/cat3di/sim_picture.h"
#include "tests/support/fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOk = CAT3DI_SUCCESS;
constexpr int kEmpty = CAT3DI_SLOT_EMPTY;
constexpr int kPal = CAT3DI_STANDARD_PAL;
constexpr int kNtsc = CAT3DI_STANDARD_NTSC;
constexpr int kWithIo = CAT3DI_MODE_DIGITAL_IO;
// Long enough for any wait that must end, under sanitizers on a busy machine.
constexpr auto kPatience = std::chrono::seconds(5);

// A PAL schedule with the input in the listed windows and the rest empty.
std::vector<int> scheduleWith(int input, std::vector<int> windows, int slots = 25) {
  std::vector<int> schedule(static_cast<std::size_t>(slots), kEmpty);
  for (int w : windows) schedule[static_cast<std::size_t>(w)] = input;
  return schedule;
}

std::vector<int> everyWindow(int input, int slots = 25) {
  return std::vector<int>(static_cast<std::size_t>(slots), input);
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bytes;  // UYVY

  std::uint8_t y(int x, int row) const {
    return bytes[(static_cast<std::size_t>(row) * width + x) * 2 + 1];
  }
};

struct Stats {
  double meanY = 0, spreadY = 0, spreadU = 0, spreadV = 0;
};

// Mean and standard deviations over the rows from `firstRow` down.
Stats statsOf(const Picture& p, int firstRow = 0) {
  double sy = 0, syy = 0, su = 0, suu = 0, sv = 0, svv = 0;
  std::size_t pairs = 0;
  for (int row = firstRow; row < p.height; ++row)
    for (int x = 0; x < p.width; x += 2) {
      const std::uint8_t* q = &p.bytes[(static_cast<std::size_t>(row) * p.width + x) * 2];
      const double u = q[0], y0 = q[1], v = q[2], y1 = q[3];
      sy += y0 + y1;
      syy += y0 * y0 + y1 * y1;
      su += u;
      suu += u * u;
      sv += v;
      svv += v * v;
      ++pairs;
    }
  const double n = static_cast<double>(pairs);
  Stats s;
  s.meanY = sy / (2 * n);
  s.spreadY = std::sqrt(std::max(0.0, syy / (2 * n) - s.meanY * s.meanY));
  s.spreadU = std::sqrt(std::max(0.0, suu / n - (su / n) * (su / n)));
  s.spreadV = std::sqrt(std::max(0.0, svv / n - (sv / n) * (sv / n)));
  return s;
}

class Cat3diTest : public ::testing::Test {
 protected:
  void SetUp() override { CAT3DI_SimSetControlRoot(root().c_str()); }
  // Closes everything (releasing any wait) before the folder goes.
  void TearDown() override { CAT3DI_SimSetControlRoot(root().c_str()); }

  std::string root() const { return dir.file("sim"); }
  std::string boardFile(int board, const std::string& name) const {
    return root() + "/brisa" + std::to_string(board) + "/" + name;
  }
  void writeBoardFile(int board, const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(root() + "/brisa" + std::to_string(board));
    dir.write("sim/brisa" + std::to_string(board) + "/" + name, text);
  }
  std::string readBoardFile(int board, const std::string& name) const {
    return dvrReadFile(boardFile(board, name));
  }

  // Opens board 0 and captures `input` at the resolution in every window of
  // its group (model 5: eight groups, so only inputs 0 and 8 share one).
  void startCapture(int input, int resolution = 8, int standard = kPal) {
    ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, standard), kOk);
    const int slots = standard == kPal ? 25 : 30;
    ASSERT_EQ(CAT3DI_VideoSliceCtrl(0, input % 8, everyWindow(input, slots).data(), slots, 0), kOk);
    ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, input, resolution, 0), kOk);
  }

  // The next picture of the input, copied out.
  Picture grab(int board, int input) {
    Picture p;
    unsigned char* address = nullptr;
    EXPECT_EQ(CAT3DI_LockWait4GetImageAddress(board, input, &address, 0), kOk);
    EXPECT_EQ(CAT3DI_SimImageSize(board, input, &p.width, &p.height), kOk);
    if (!address) return p;
    p.bytes.assign(address, address + static_cast<std::size_t>(p.width) * p.height * 2);
    return p;
  }

  dvrTempDir dir;
};

// ---------------------------------------------------------------- discovery

TEST_F(Cat3diTest, SearchAndDetailInfoFollowTheControlFiles) {
  struct Row {
    const char* label;
    std::vector<std::pair<std::string, std::string>> files;  // under the root
    int boards;
    int board;  // the one looked at
    int model;
    int inputs;
  };
  const Row rows[] = {
      {"defaults", {}, 1, 0, 5, 16},
      {"second board of two", {{"boards", "2\n"}, {"brisa1/model", "3\n"}, {"brisa1/inputs", "8\n"}}, 2, 1, 3, 8},
      {"inputs capped at 32", {{"brisa0/inputs", "40"}}, 1, 0, 5, 32},
      {"unreadable numbers fall back", {{"boards", "many"}, {"brisa0/model", "x"}}, 1, 0, 5, 16},
      {"last of sixteen", {{"boards", "16"}, {"brisa15/model", "7"}}, 16, 15, 7, 16},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    CAT3DI_SimSetControlRoot(root().c_str());
    std::filesystem::remove_all(root());
    for (const auto& [name, text] : row.files) {
      std::filesystem::create_directories(std::filesystem::path(root() + "/" + name).parent_path());
      dir.write("sim/" + name, text);
    }
    int count = -1;
    ASSERT_EQ(CAT3DI_BDSearch(&count), kOk);
    EXPECT_EQ(count, row.boards);
    for (int b = 0; b < count; ++b)
      EXPECT_TRUE(std::filesystem::is_directory(root() + "/brisa" + std::to_string(b))) << b;

    std::array<int, 32> info;
    info.fill(-1);
    ASSERT_EQ(CAT3DI_BDDetailInfo(row.board, info.data()), kOk);
    for (int i = 0; i < 32; ++i) {
      const int expected = i == 5 ? row.inputs : i == 11 + row.board ? row.model : 0;
      EXPECT_EQ(info[static_cast<std::size_t>(i)], expected) << "info[" << i << "]";
    }
    EXPECT_NE(CAT3DI_BDDetailInfo(row.boards, info.data()), kOk) << "one past the last board";
  }
}

TEST_F(Cat3diTest, OpenAndCloseWriteTheOpenFile) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  EXPECT_EQ(readBoardFile(0, "open"), "1 19 0\n");
  ASSERT_EQ(CAT3DI_BDClose(0), kOk);
  EXPECT_EQ(readBoardFile(0, "open"), "0 19 0\n");
  ASSERT_EQ(CAT3DI_BDOpen(0, CAT3DI_MODE_PLAIN, kNtsc), kOk);
  EXPECT_EQ(readBoardFile(0, "open"), "1 3 1\n");
  // A closed board refuses the calls that need an open one.
  ASSERT_EQ(CAT3DI_BDClose(0), kOk);
  EXPECT_EQ(CAT3DI_TVOUT(0, 0), CAT3DI_ERROR_STATE);
  EXPECT_EQ(CAT3DI_CaptureVideoTransferON(0, 0, 8, 0), CAT3DI_ERROR_STATE);
}

// ---------------------------------------------------------------- pictures

TEST_F(Cat3diTest, PicturesHaveTheSizeOfTheResolution) {
  struct Row {
    const char* label;
    int standard;
    int resolution;
    int width;
    int height;
  };
  const Row rows[] = {
      {"PAL full frame", kPal, 1, 720, 576},      {"PAL 704 frame", kPal, 2, 704, 576},
      {"PAL 640 frame", kPal, 3, 640, 576},       {"PAL 720 field", kPal, 4, 720, 288},
      {"PAL CIF", kPal, 8, 352, 288},             {"PAL 320 field", kPal, 9, 320, 288},
      {"PAL 180 quarter", kPal, 10, 180, 144},    {"PAL QCIF-like", kPal, 12, 160, 144},
      {"NTSC full frame", kNtsc, 1, 720, 480},    {"NTSC 704 field", kNtsc, 5, 704, 240},
      {"NTSC 360 field", kNtsc, 7, 360, 240},     {"NTSC 176 quarter", kNtsc, 11, 176, 120},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    startCapture(0, row.resolution, row.standard);
    const Picture p = grab(0, 0);
    EXPECT_EQ(p.width, row.width);
    EXPECT_EQ(p.height, row.height);
    // Copying width * height * 2 bytes out of the buffer stayed inside it (the
    // address sanitizer watches), and the picture is not blank.
    ASSERT_EQ(p.bytes.size(), static_cast<std::size_t>(row.width) * row.height * 2);
    EXPECT_GT(statsOf(p).spreadY, 10.0);
  }
}

TEST_F(Cat3diTest, ThePatternMovesBetweenPictures) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  // Five pictures a second: 200 ms apart, far enough for the square to move.
  const std::vector<int> schedule = scheduleWith(0, {0, 5, 10, 15, 20});
  ASSERT_EQ(CAT3DI_VideoSliceCtrl(0, 0, schedule.data(), 25, 0), kOk);
  ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, 0, 2, 0), kOk);
  const Picture first = grab(0, 0);
  const Picture second = grab(0, 0);
  ASSERT_EQ(first.bytes.size(), second.bytes.size());
  ASSERT_FALSE(first.bytes.empty());
  // Below the text line (the top eighth), so the clock alone does not count.
  const std::size_t body = static_cast<std::size_t>(first.height / 8) * first.width * 2;
  EXPECT_FALSE(std::equal(first.bytes.begin() + static_cast<std::ptrdiff_t>(body), first.bytes.end(),
                          second.bytes.begin() + static_cast<std::ptrdiff_t>(body)));
}

// ---------------------------------------------------------------- redrawing only what changed

using cat3disim::ChangedRows;
using cat3disim::PictureScene;
using cat3disim::RowBand;

std::vector<std::uint8_t> fullPicture(int width, int height, const PictureScene& scene) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 2, 0x5A);
  cat3disim::renderPicture(bytes.data(), width, height, scene);
  return bytes;
}

// The first row where two pictures of `width` differ, or -1.
int firstDifferentRow(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                      int width) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (at.first == a.end()) return -1;
  return static_cast<int>((at.first - a.begin()) / (static_cast<std::ptrdiff_t>(width) * 2));
}

TEST(Cat3diPicture, RowsDrawnAloneMatchThoseOfTheWholePicture) {
  struct Row {
    const char* label;
    int width, height;
    int firstRow, endRow;
    bool signal;
  };
  const Row rows[] = {
      {"a middle band of CIF", 352, 288, 100, 160, true},
      {"the text line's rows", 352, 288, 0, 18, true},
      {"one row", 720, 576, 301, 302, true},
      {"the last row", 704, 480, 479, 480, true},
      {"clipped at both ends", 176, 120, -5, 500, true},
      {"empty band", 352, 288, 40, 40, true},
      {"reversed band", 352, 288, 60, 40, true},
      {"wholly below the picture", 160, 144, 144, 200, true},
      {"without a signal", 352, 288, 10, 70, false},
      {"tiny picture", 2, 1, 0, 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    PictureScene scene;
    scene.board = 1;
    scene.input = 3;
    scene.signal = row.signal;
    scene.wallMs = 1'700'000'123'456;
    scene.hour = 12;
    scene.minute = 34;
    scene.second = 56;
    const std::vector<std::uint8_t> whole = fullPicture(row.width, row.height, scene);
    constexpr std::uint8_t kUntouched = 0xA7;
    std::vector<std::uint8_t> band(whole.size(), kUntouched);
    cat3disim::renderPictureRows(band.data(), row.width, row.height, scene, row.firstRow, row.endRow);
    const std::size_t rowBytes = static_cast<std::size_t>(row.width) * 2;
    for (int y = 0; y < row.height; ++y) {
      const auto begin = band.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
      const auto end = begin + static_cast<std::ptrdiff_t>(rowBytes);
      if (y >= row.firstRow && y < row.endRow)
        EXPECT_TRUE(std::equal(begin, end, whole.begin() + (begin - band.begin()))) << "row " << y;
      else
        EXPECT_TRUE(std::all_of(begin, end, [](std::uint8_t b) { return b == kUntouched; }))
            << "row " << y << " outside the band was drawn";
    }
  }
}

// One picture of a sequence: its scene and whether it must be drawn whole.
struct Step {
  PictureScene scene;
  bool whole = false;
};

// A scene of board 1, input 5 at the wall-clock time, with the time text of
// that moment (in UTC, which is as good as any zone here).
PictureScene sceneAt(std::int64_t wallMs, bool signal = true, int brightness = 128) {
  PictureScene scene;
  scene.board = 1;
  scene.input = 5;
  scene.signal = signal;
  scene.wallMs = wallMs;
  const std::int64_t seconds = ((wallMs / 1000) % 86400 + 86400) % 86400;
  scene.hour = static_cast<int>(seconds / 3600);
  scene.minute = static_cast<int>(seconds / 60 % 60);
  scene.second = static_cast<int>(seconds % 60);
  scene.adjust.brightness = brightness;
  return scene;
}

// Pictures `stepMs` apart from `fromMs` on, all with a signal and neutral.
std::vector<Step> every(std::int64_t fromMs, std::int64_t stepMs, int count) {
  std::vector<Step> steps;
  for (int i = 0; i < count; ++i) steps.push_back({sceneAt(fromMs + i * stepMs)});
  return steps;
}

TEST(Cat3diPicture, RedrawingTheChangedRowsGivesTheWholePicture) {
  // A wall-clock time 40 ms before a whole minute.
  constexpr std::int64_t kT = 1'700'000'039'960;
  struct Size {
    const char* label;
    int width, height;
  };
  const Size sizes[] = {
      {"PAL CIF", 352, 288},   {"PAL frame", 720, 576},   {"NTSC frame", 720, 480},
      {"NTSC quarter", 176, 120}, {"PAL quarter", 160, 144}, {"NTSC field", 704, 240},
      {"16 x 16", 16, 16},     {"8 x 6", 8, 6},           {"2 x 1", 2, 1},
      {"narrow and tall", 4, 200}, {"wide and flat", 200, 4},
  };
  struct Sequence {
    const char* label;
    std::vector<Step> steps;
  };
  PictureScene otherInput = sceneAt(kT + 80);
  otherInput.input = 6;
  PictureScene otherBoard = otherInput;
  otherBoard.board = 2;
  PictureScene hueTurned = sceneAt(kT + 160);
  hueTurned.adjust.hue = 192;
  const Sequence sequences[] = {
      {"25 pictures a second across a minute", every(kT, 40, 30)},
      {"a millisecond apart", every(kT, 1, 12)},
      {"the same moment again", every(kT, 0, 3)},
      {"big steps", every(kT, 700, 12)},
      {"steps of whole path periods and a half", every(kT, 6000, 5)},
      {"around the turns of the path", every(kT - 260, 130, 40)},
      {"back in time", every(kT + 5000, -333, 16)},
      {"signal lost and back",
       {{sceneAt(kT)}, {sceneAt(kT + 40)}, {sceneAt(kT + 80, false), true},
        {sceneAt(kT + 120, false)}, {sceneAt(kT + 1500, false)},
        {sceneAt(kT + 1540), true}, {sceneAt(kT + 1580)}}},
      {"adjustments changed",
       {{sceneAt(kT)}, {sceneAt(kT + 40, true, 200), true}, {sceneAt(kT + 80, true, 200)},
        {hueTurned, true}, {sceneAt(kT + 200), true}, {sceneAt(kT + 240)}}},
      {"adjustments changed without a signal",
       {{sceneAt(kT, false)}, {sceneAt(kT + 40, false, 30)}, {sceneAt(kT + 80, true, 30), true},
        {sceneAt(kT + 120, true, 30)}}},
      {"another input and board on the same buffer",
       {{sceneAt(kT)}, {otherInput}, {otherBoard}, {sceneAt(kT + 120)}}},
  };
  for (const Size& size : sizes)
    for (const Sequence& sequence : sequences) {
      SCOPED_TRACE(std::string(size.label) + ", " + sequence.label);
      // The buffer starts as garbage, drawn whole once.
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size.width) * size.height * 2, 0xC3);
      cat3disim::renderPicture(buffer.data(), size.width, size.height, sequence.steps[0].scene);
      for (std::size_t i = 1; i < sequence.steps.size(); ++i) {
        SCOPED_TRACE("picture " + std::to_string(i));
        const Step& step = sequence.steps[i];
        const ChangedRows changed = cat3disim::changedRows(
            size.width, size.height, sequence.steps[i - 1].scene, step.scene);
        EXPECT_EQ(changed.all, step.whole);
        if (changed.all) {
          cat3disim::renderPicture(buffer.data(), size.width, size.height, step.scene);
        } else {
          ASSERT_GE(changed.count, 0);
          ASSERT_LE(changed.count, 3);
          int below = 0;  // the bands go down the picture, apart, inside it
          for (int b = 0; b < changed.count; ++b) {
            const RowBand& band = changed.bands[static_cast<std::size_t>(b)];
            EXPECT_LE(b == 0 ? 0 : below + 1, band.first) << "band " << b;
            EXPECT_LT(band.first, band.end) << "band " << b;
            EXPECT_LE(band.end, size.height) << "band " << b;
            below = band.end;
            cat3disim::renderPictureRows(buffer.data(), size.width, size.height, step.scene,
                                         band.first, band.end);
          }
        }
        const std::vector<std::uint8_t> whole = fullPicture(size.width, size.height, step.scene);
        ASSERT_EQ(firstDifferentRow(buffer, whole, size.width), -1);
      }
    }
}

TEST(Cat3diPicture, OnlyTheTextAndTheSquareRowsAreRedrawn) {
  // CIF: text rows [0, 18), a square 57 rows high. From 40 ms before a
  // whole second to 40 ms after it, the square and the seconds both change.
  constexpr int kWidth = 352, kHeight = 288, kTextRows = 18, kSquareRows = 57;
  const PictureScene before = sceneAt(1'700'000'039'960);
  const PictureScene after = sceneAt(1'700'000'040'000);
  const ChangedRows changed = cat3disim::changedRows(kWidth, kHeight, before, after);
  ASSERT_FALSE(changed.all);
  ASSERT_GT(changed.count, 0);
  EXPECT_EQ(changed.bands[0].first, 0) << "the text line";
  EXPECT_GE(changed.bands[0].end, kTextRows);
  int drawn = 0;
  for (int b = 0; b < changed.count; ++b)
    drawn += changed.bands[static_cast<std::size_t>(b)].end - changed.bands[static_cast<std::size_t>(b)].first;
  EXPECT_LE(drawn, kTextRows + 2 * kSquareRows);
  // The same second, the square where it was: nothing to draw.
  const ChangedRows same = cat3disim::changedRows(kWidth, kHeight, after, after);
  EXPECT_FALSE(same.all);
  EXPECT_EQ(same.count, 0);
}

// The pictures handed out, drawn a few rows at a time, are each equal to a
// whole picture of the input at some moment of its fetch.
TEST_F(Cat3diTest, EveryPictureEqualsAWholePictureOfItsMoment) {
  using SystemClock = std::chrono::system_clock;
  const auto nowMs = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               SystemClock::now().time_since_epoch())
        .count();
  };
  // Whether the picture is that of the input at some millisecond in
  // [fromMs, toMs] with the signal and the brightness.
  const auto drawnBetween = [](const Picture& p, std::int64_t fromMs, std::int64_t toMs,
                               bool signal, int brightness) {
    for (std::int64_t ms = fromMs; ms <= toMs; ++ms) {
      PictureScene scene;
      scene.input = 0;
      scene.signal = signal;
      scene.wallMs = ms;
      scene.adjust.brightness = brightness;
      const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
      std::tm local{};
      if (!localtime_r(&seconds, &local)) return false;
      scene.hour = local.tm_hour;
      scene.minute = local.tm_min;
      scene.second = local.tm_sec;
      if (fullPicture(p.width, p.height, scene) == p.bytes) return true;
    }
    return false;
  };
  struct Row {
    const char* label;
    int resolution;
    bool signal;
    int brightness;
  };
  const Row rows[] = {
      {"quarter pictures", 12, true, 128},     {"CIF", 8, true, 128},
      {"signal lost", 8, false, 128},          {"signal back", 8, true, 128},
      {"brightness up", 8, true, 200},         {"size changed", 11, true, 200},
  };
  startCapture(0, rows[0].resolution);
  std::array<int, 32> flags;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, 0, row.resolution, 0), kOk);
    writeBoardFile(0, "signal0", row.signal ? "1\n" : "0\n");
    ASSERT_EQ(CAT3DI_CAMERA_SIGNAL(0, flags.data()), kOk);  // read at once
    ASSERT_EQ(CAT3DI_BRIGHTNESSControl(0, 0, row.brightness), kOk);
    for (int i = 0; i < 6; ++i) {
      const std::int64_t fromMs = nowMs();
      const Picture p = grab(0, 0);
      const std::int64_t toMs = nowMs();
      ASSERT_FALSE(p.bytes.empty());
      EXPECT_TRUE(drawnBetween(p, fromMs, toMs, row.signal, row.brightness)) << "picture " << i;
    }
  }
}

// ---------------------------------------------------------------- pacing

TEST(Cat3diPacing, NextWindowFollowsTheSchedule) {
  using cat3disim::nextWindow;
  constexpr std::int64_t s = cat3disim::kMicrosecondsPerSecond;
  struct Row {
    const char* label;
    std::vector<int> schedule;
    int input;
    std::int64_t now;
    std::optional<std::int64_t> expected;
  };
  const Row rows[] = {
      {"first window of the second", scheduleWith(3, {0, 10}), 3, 7 * s - 1, 7 * s},
      {"a window just begun is taken next time", scheduleWith(3, {0, 10}), 3, 7 * s, 7 * s + 400000},
      {"inside the second", scheduleWith(3, {0, 10}), 3, 7 * s + 1, 7 * s + 400000},
      {"wraps into the next second", scheduleWith(3, {0, 10}), 3, 7 * s + 400000, 8 * s},
      {"other inputs' windows are skipped", scheduleWith(3, {24}), 3, 7 * s, 7 * s + 960000},
      {"30 windows of 33.3 ms", scheduleWith(4, {1, 2}, 30), 4, 2 * s + 33334, 2 * s + 66666},
      {"first NTSC window after one", scheduleWith(4, {1, 2}, 30), 4, 2 * s, 2 * s + 33333},
      {"input absent", scheduleWith(3, {0, 10}), 5, 7 * s, std::nullopt},
      {"empty schedule", {}, 0, 7 * s, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(nextWindow(row.schedule, row.input, row.now), row.expected);
  }
}

TEST_F(Cat3diTest, TenWindowsASecondGiveTenPicturesASecond) {
  // Inputs 0 and 8 share group 0: input 0 has ten windows of 25, input 8 the
  // rest, and only its own windows wake an input.
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  std::vector<int> schedule = everyWindow(8);
  for (int w : {0, 2, 5, 7, 10, 12, 15, 17, 20, 22}) schedule[static_cast<std::size_t>(w)] = 0;
  ASSERT_EQ(CAT3DI_VideoSliceCtrl(0, 0, schedule.data(), 25, 0), kOk);
  ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, 0, 12, 0), kOk);
  unsigned char* address = nullptr;
  // The picture of the window that began last is there at once; every
  // further one waits for a window of its own.
  ASSERT_EQ(CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0), kOk);
  const auto start = Clock::now();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0), kOk);
  const auto took = Clock::now() - start;
  // The tenth is the first one's window a second later, which began at most
  // three windows (120 ms) before the first call; a generous bound above
  // catches a picture a second instead of ten.
  EXPECT_GE(took, std::chrono::milliseconds(850));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
}

// ---------------------------------------------------------------- releasing waits

TEST_F(Cat3diTest, BlockedWaitsAreReleasedAtOnce) {
  struct Row {
    const char* label;
    std::function<void()> release;
  };
  const Row rows[] = {
      {"cancel", [] { EXPECT_EQ(CAT3DI_CancelLockWait4GetImageAddress(0, 0), kOk); }},
      {"transfer off", [] { EXPECT_EQ(CAT3DI_CaptureVideoTransferOFF(0, 0), kOk); }},
      {"board closed", [] { EXPECT_EQ(CAT3DI_BDClose(0), kOk); }},
      {"simulation reset", [this] { CAT3DI_SimSetControlRoot(root().c_str()); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    // Captured but never scheduled: the wait would last for ever.
    ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
    ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, 0, 8, 0), kOk);
    auto wait = std::async(std::launch::async, [] {
      unsigned char* address = nullptr;
      return CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0);
    });
    ASSERT_EQ(CAT3DI_SimAwaitWaiter(0, 0, 5000), kOk);
    const auto start = Clock::now();
    row.release();
    ASSERT_EQ(wait.wait_for(kPatience), std::future_status::ready);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(wait.get(), CAT3DI_ERROR_CANCELLED);
  }
}

TEST_F(Cat3diTest, ACancelBeforeTheWaitIsNotLost) {
  startCapture(0);
  unsigned char* address = nullptr;
  ASSERT_EQ(CAT3DI_CancelLockWait4GetImageAddress(0, 0), kOk);
  EXPECT_EQ(CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0), CAT3DI_ERROR_CANCELLED);
  // Used up by that wait: the next one gets its picture.
  EXPECT_EQ(CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0), kOk);
  // A new capture forgets an earlier cancel.
  ASSERT_EQ(CAT3DI_CancelLockWait4GetImageAddress(0, 0), kOk);
  ASSERT_EQ(CAT3DI_CaptureVideoTransferOFF(0, 0), kOk);
  EXPECT_EQ(CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0), CAT3DI_ERROR_STATE);
  ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, 0, 8, 0), kOk);
  EXPECT_EQ(CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0), kOk);
}

TEST_F(Cat3diTest, AStalledInputHoldsItsPicturesUntilTheFileChangesBack) {
  startCapture(0);
  writeBoardFile(0, "stall0", "1\n");
  auto wait = std::async(std::launch::async, [] {
    unsigned char* address = nullptr;
    return CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0);
  });
  // Windows come every 40 ms: none of them gives a picture while stalled.
  EXPECT_EQ(wait.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  writeBoardFile(0, "stall0", "0\n");
  ASSERT_EQ(wait.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(wait.get(), kOk);
}

TEST_F(Cat3diTest, ANewScheduleWakesAWaitingInput) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, 3, 12, 0), kOk);
  auto wait = std::async(std::launch::async, [] {
    unsigned char* address = nullptr;
    return CAT3DI_LockWait4GetImageAddress(0, 3, &address, 0);
  });
  ASSERT_EQ(CAT3DI_SimAwaitWaiter(0, 3, 5000), kOk);
  ASSERT_EQ(CAT3DI_VideoSliceCtrl(0, 3, everyWindow(3).data(), 25, 0), kOk);
  ASSERT_EQ(wait.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(wait.get(), kOk);
}

TEST_F(Cat3diTest, InputsCaptureOnTheirOwnThreadsWhileTheBoardIsDriven) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  const std::vector<int> inputs = {0, 1, 2, 3, 8, 9};
  for (int input : inputs) ASSERT_EQ(CAT3DI_CaptureVideoTransferON(0, input, 11, 0), kOk);
  for (int group : {0, 1, 2, 3}) {
    std::vector<int> schedule = everyWindow(group);
    if (group < 2)
      for (std::size_t j = 1; j < schedule.size(); j += 2) schedule[j] = group + 8;
    ASSERT_EQ(CAT3DI_VideoSliceCtrl(0, group, schedule.data(), 25, 0), kOk);
  }
  std::vector<std::future<int>> threads;
  for (int input : inputs)
    threads.push_back(std::async(std::launch::async, [input] {
      int good = 0;
      for (int i = 0; i < 4; ++i) {
        unsigned char* address = nullptr;
        if (CAT3DI_LockWait4GetImageAddress(0, input, &address, 0) == kOk && address) ++good;
      }
      return good;
    }));
  std::array<int, 32> flags{};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(CAT3DI_BRIGHTNESSControl(0, i % 4, 100 + i), kOk);
    EXPECT_EQ(CAT3DI_TVOUT(0, i % 4), kOk);
    EXPECT_EQ(CAT3DI_CAMERA_SIGNAL(0, flags.data()), kOk);
  }
  for (auto& t : threads) {
    ASSERT_EQ(t.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(t.get(), 4);
  }
}

// ---------------------------------------------------------------- signals and I/O

TEST_F(Cat3diTest, ACutSignalShowsInTheFlagsAndThePicture) {
  startCapture(2, 8);
  writeBoardFile(0, "signal2", "0\n");
  std::array<int, 32> flags;
  flags.fill(-1);
  ASSERT_EQ(CAT3DI_CAMERA_SIGNAL(0, flags.data()), kOk);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(flags[static_cast<std::size_t>(i)], i < 16 && i != 2 ? 1 : 0) << "input " << i;

  const Picture cut = grab(0, 2);
  ASSERT_FALSE(cut.bytes.empty());
  // Below the text line: one flat blue colour.
  const Stats body = statsOf(cut, cut.height / 8);
  EXPECT_EQ(body.spreadY + body.spreadU + body.spreadV, 0.0);
  const std::uint8_t* pair = &cut.bytes[cut.bytes.size() - 4];
  EXPECT_GT(pair[0], 200) << "U of blue";
  EXPECT_LT(pair[1], 64) << "Y of blue";

  writeBoardFile(0, "signal2", "1\n");
  ASSERT_EQ(CAT3DI_CAMERA_SIGNAL(0, flags.data()), kOk);
  EXPECT_EQ(flags[2], 1);
  EXPECT_GT(statsOf(grab(0, 2), cut.height / 8).spreadY, 10.0);
}

TEST_F(Cat3diTest, ControlNumbersReadWithEveryPictureAreKeptUntilRefreshedOrTooOld) {
  using cat3disim::CachedNumber;
  const std::string name = "stall0";
  CachedNumber kept(boardFile(0, name), std::chrono::hours(1));
  CachedNumber everyTime(boardFile(0, name), CachedNumber::Clock::duration::zero());
  struct Step {
    const char* label;
    std::optional<std::string> content;  // nullopt: no file
    bool refresh;                        // of `kept`, else a plain read
    std::optional<long long> kept;
    std::optional<long long> everyTime;
  };
  const Step steps[] = {
      {"no file", std::nullopt, false, std::nullopt, std::nullopt},
      {"written: the kept read still has none", "7\n", false, std::nullopt, 7},
      {"refreshed", "7\n", true, 7, 7},
      {"changed", " -3 x", false, 7, -3},
      {"no number", "x", false, 7, std::nullopt},
      {"refreshed to no number", "x", true, std::nullopt, std::nullopt},
      {"written and refreshed", "12", true, 12, 12},
      {"removed", std::nullopt, false, 12, std::nullopt},
      {"removed and refreshed", std::nullopt, true, std::nullopt, std::nullopt},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.label);
    if (step.content)
      writeBoardFile(0, name, *step.content);
    else
      std::filesystem::remove(boardFile(0, name));
    EXPECT_EQ(step.refresh ? kept.refresh() : kept.get(), step.kept);
    EXPECT_EQ(everyTime.get(), step.everyTime);
  }
}

TEST_F(Cat3diTest, DigitalInputsReadTheDinFiles) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  writeBoardFile(0, "din0", "0\n");
  writeBoardFile(0, "din5", "0");
  writeBoardFile(0, "din6", "1\n");
  writeBoardFile(0, "din31", "0\n");
  std::array<int, 32> values;
  values.fill(-1);
  ASSERT_EQ(CAT3DI_DIGITALIN_SIGNAL(0, values.data()), kOk);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(values[static_cast<std::size_t>(i)], i == 0 || i == 5 || i == 31 ? 0 : 1) << i;
  writeBoardFile(0, "din0", "1\n");
  ASSERT_EQ(CAT3DI_DIGITALIN_SIGNAL(0, values.data()), kOk);
  EXPECT_EQ(values[0], 1);
}

TEST_F(Cat3diTest, DigitalOutputsWriteTheDoutFiles) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  std::array<int, 32> values{};
  values[2] = 1;
  values[31] = 7;  // any non-zero value is on
  ASSERT_EQ(CAT3DI_DIGITALOUT_SIGNAL(0, values.data()), kOk);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(readBoardFile(0, "dout" + std::to_string(i)), i == 2 || i == 31 ? "1\n" : "0\n") << i;
  values[2] = 0;
  values[3] = 1;
  ASSERT_EQ(CAT3DI_DIGITALOUT_SIGNAL(0, values.data()), kOk);
  EXPECT_EQ(readBoardFile(0, "dout2"), "0\n");
  EXPECT_EQ(readBoardFile(0, "dout3"), "1\n");
  EXPECT_EQ(readBoardFile(0, "dout31"), "1\n");
}

TEST_F(Cat3diTest, WithoutTheIoExtensionTheDigitalCallsFail) {
  ASSERT_EQ(CAT3DI_BDOpen(0, CAT3DI_MODE_PLAIN, kPal), kOk);
  std::array<int, 32> values{};
  EXPECT_EQ(CAT3DI_DIGITALIN_SIGNAL(0, values.data()), CAT3DI_ERROR_STATE);
  EXPECT_EQ(CAT3DI_DIGITALOUT_SIGNAL(0, values.data()), CAT3DI_ERROR_STATE);
  EXPECT_FALSE(std::filesystem::exists(boardFile(0, "dout0")));
}

TEST_F(Cat3diTest, TvoutWritesTheShownInput) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  ASSERT_EQ(CAT3DI_TVOUT(0, 3), kOk);
  EXPECT_EQ(readBoardFile(0, "tvout"), "3\n");
  ASSERT_EQ(CAT3DI_TVOUT(0, 15), kOk);
  EXPECT_EQ(readBoardFile(0, "tvout"), "15\n");
  EXPECT_NE(CAT3DI_TVOUT(0, 16), kOk);
  EXPECT_EQ(readBoardFile(0, "tvout"), "15\n");
}

TEST_F(Cat3diTest, TextPlanesWriteTheirFiles) {
  const std::string blank(24, ' ');
  struct Row {
    const char* label;
    int position;
    std::vector<unsigned char> codes;
    int line;  // the line looked at
    std::string expected;
  };
  // The board's character set: most printable ASCII characters c have the
  // code c - 16; 127 is the blank.
  auto codes = [](const std::string& text) {
    std::vector<unsigned char> out;
    for (char c : text) out.push_back(c == ' ' ? 127 : static_cast<unsigned char>(c - 16));
    return out;
  };
  const Row rows[] = {
      {"start of the plane", 0, codes("CAM 1"), 0, "CAM 1" + blank.substr(5)},
      {"second line", 24 + 2, codes("12:05"), 1, "  12:05" + blank.substr(7)},
      {"codes beyond the set show blank", 48, {49, 200, 255, 81}, 2, "A  a" + blank.substr(4)},
      {"cut at the last cell", 236, codes("WXYZabc"), 9, blank.substr(4) + "WXYZ"},
  };
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ASSERT_EQ(CAT3DI_OSD(0, row.position, static_cast<int>(row.codes.size()), row.codes.data()), kOk);
    const std::string text = readBoardFile(0, "osd1.txt");
    ASSERT_EQ(text.size(), 10u * 25);
    for (int line = 0; line < 10; ++line) EXPECT_EQ(text[static_cast<std::size_t>(line * 25 + 24)], '\n');
    EXPECT_EQ(text.substr(static_cast<std::size_t>(row.line) * 25, 24), row.expected);
  }
  // Letters beyond ASCII show as UTF-8.
  const unsigned char accented[] = {76, 107};  // é ç
  ASSERT_EQ(CAT3DI_OSD(0, 72, 2, accented), kOk);
  EXPECT_EQ(readBoardFile(0, "osd1.txt").substr(3 * 25, 4), "\xC3\xA9\xC3\xA7");
  // The second plane is its own.
  const unsigned char rec[] = {'R' - 16, 'E' - 16, 'C' - 16};
  ASSERT_EQ(CAT3DI_OSD2(0, 0, 3, rec), kOk);
  const std::string second = readBoardFile(0, "osd2.txt");
  EXPECT_EQ(second.substr(0, 24), "REC" + blank.substr(3));
  EXPECT_EQ(second.substr(25, 24), blank);
  EXPECT_EQ(readBoardFile(0, "osd1.txt").substr(0, 5), "CAM 1");
}

TEST_F(Cat3diTest, Rs485PortWritesItsFiles) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  const unsigned char command[] = {0xA0, 0x01, 0xFF};
  const unsigned char stop[] = {0x0F};
  EXPECT_EQ(CAT3DI_RUART_WRITE(0, command, 3, 100), CAT3DI_ERROR_STATE) << "port not open";
  ASSERT_EQ(CAT3DI_RUART_CONFIG(0, 3, 0), kOk);
  EXPECT_EQ(readBoardFile(0, "rs485speed"), "3\n");
  ASSERT_EQ(CAT3DI_RUART_WRITE(0, command, 3, 100), kOk);
  ASSERT_EQ(CAT3DI_RUART_WRITE(0, stop, 1, 100), kOk);
  EXPECT_EQ(readBoardFile(0, "rs485.log"), "A0 01 FF\n0F\n");
  ASSERT_EQ(CAT3DI_RUART_ESCAPE(0), kOk);
  EXPECT_EQ(readBoardFile(0, "rs485speed"), "closed\n");
  EXPECT_EQ(CAT3DI_RUART_WRITE(0, command, 3, 100), CAT3DI_ERROR_STATE) << "port closed";
  EXPECT_EQ(readBoardFile(0, "rs485.log"), "A0 01 FF\n0F\n");
}

TEST_F(Cat3diTest, WatchdogWritesItsFile) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  ASSERT_EQ(CAT3DI_WDOGEnable(0, 10), kOk);
  EXPECT_EQ(readBoardFile(0, "watchdog"), "enabled 10\n");
  ASSERT_EQ(CAT3DI_WDOGDisable(0), kOk);
  EXPECT_EQ(readBoardFile(0, "watchdog"), "disabled\n");
}

// ---------------------------------------------------------------- adjustments

TEST_F(Cat3diTest, AdjustmentsChangeThePicture) {
  struct Row {
    const char* label;
    int (*control)(int, int, int);
    int value;
    // Which statistic moves, and which way (+1 up, -1 down).
    double Stats::*measure;
    int direction;
  };
  const Row rows[] = {
      {"brightness up raises the mean Y", CAT3DI_BRIGHTNESSControl, 200, &Stats::meanY, +1},
      {"brightness down lowers it", CAT3DI_BRIGHTNESSControl, 60, &Stats::meanY, -1},
      {"contrast up spreads Y", CAT3DI_CONTRASTControl, 220, &Stats::spreadY, +1},
      {"contrast down narrows Y", CAT3DI_CONTRASTControl, 40, &Stats::spreadY, -1},
      {"saturation U off flattens U", CAT3DI_SATURATIONUControl, 0, &Stats::spreadU, -1},
      {"saturation U up spreads U", CAT3DI_SATURATIONUControl, 220, &Stats::spreadU, +1},
      {"saturation V off flattens V", CAT3DI_SATURATIONVControl, 0, &Stats::spreadV, -1},
      {"saturation V up spreads V", CAT3DI_SATURATIONVControl, 220, &Stats::spreadV, +1},
  };
  startCapture(0, 10);
  const Stats neutral = statsOf(grab(0, 0));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ASSERT_EQ(row.control(0, 0, row.value), kOk);
    const Stats changed = statsOf(grab(0, 0));
    ASSERT_EQ(row.control(0, 0, 128), kOk);
    EXPECT_GT(row.direction * (changed.*row.measure - neutral.*row.measure), 10.0)
        << "before " << neutral.*row.measure << ", after " << changed.*row.measure;
  }
  // The hue turns U and V and leaves Y: in the yellow bar (the second of
  // eight), on a row where neither picture has the square, U and V differ.
  const Picture before = grab(0, 0);
  ASSERT_EQ(CAT3DI_HUEControl(0, 0, 192), kOk);  // a quarter turn
  const Picture turned = grab(0, 0);
  const int column = (before.width * 3 / 16) & ~1;
  constexpr std::uint8_t kYellowY = 162;
  int compared = 0;
  for (int row = before.height / 8; row < before.height; ++row) {
    if (before.y(column, row) != kYellowY || turned.y(column, row) != kYellowY) continue;
    const std::size_t at = (static_cast<std::size_t>(row) * before.width + column) * 2;
    EXPECT_GT(std::abs(before.bytes[at] - turned.bytes[at]) +
                  std::abs(before.bytes[at + 2] - turned.bytes[at + 2]),
              40)
        << "row " << row;
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

// ---------------------------------------------------------------- bad arguments

TEST_F(Cat3diTest, BadArgumentsFailWithoutHarm) {
  ASSERT_EQ(CAT3DI_BDOpen(0, kWithIo, kPal), kOk);
  std::array<int, 32> values{};
  const std::vector<int> full = everyWindow(0);
  std::vector<int> foreign = everyWindow(0);
  foreign[3] = 1;  // input 1 is in group 1
  std::vector<int> outOfRange = everyWindow(0);
  outOfRange[3] = 16;  // group 0, but the board has 16 inputs
  unsigned char* address = nullptr;
  const unsigned char text[] = {'A'};
  int count = 0, width = 0, height = 0;
  struct Row {
    const char* label;
    std::function<int()> call;
  };
  const Row rows[] = {
      {"search without a count", [] { return CAT3DI_BDSearch(nullptr); }},
      {"info of a missing board", [&] { return CAT3DI_BDDetailInfo(1, values.data()); }},
      {"info of board -1", [&] { return CAT3DI_BDDetailInfo(-1, values.data()); }},
      {"info of a huge board number", [&] { return CAT3DI_BDDetailInfo(1 << 30, values.data()); }},
      {"info without an array", [] { return CAT3DI_BDDetailInfo(0, nullptr); }},
      {"open of a missing board", [] { return CAT3DI_BDOpen(1, kWithIo, kPal); }},
      {"open in an unknown mode", [] { return CAT3DI_BDOpen(0, 7, kPal); }},
      {"open with an unknown standard", [] { return CAT3DI_BDOpen(0, kWithIo, 2); }},
      {"close of a missing board", [] { return CAT3DI_BDClose(-3); }},
      {"schedule of group 8", [&] { return CAT3DI_VideoSliceCtrl(0, 8, full.data(), 25, 0); }},
      {"schedule of group -1", [&] { return CAT3DI_VideoSliceCtrl(0, -1, full.data(), 25, 0); }},
      {"schedule without entries", [] { return CAT3DI_VideoSliceCtrl(0, 0, nullptr, 25, 0); }},
      {"schedule of 30 slots on PAL", [&] { return CAT3DI_VideoSliceCtrl(0, 0, full.data(), 30, 0); }},
      {"schedule of no slots", [&] { return CAT3DI_VideoSliceCtrl(0, 0, full.data(), 0, 0); }},
      {"schedule naming another group's input", [&] { return CAT3DI_VideoSliceCtrl(0, 0, foreign.data(), 25, 0); }},
      {"schedule naming a missing input", [&] { return CAT3DI_VideoSliceCtrl(0, 0, outOfRange.data(), 25, 0); }},
      {"capture at resolution 0", [] { return CAT3DI_CaptureVideoTransferON(0, 0, 0, 0); }},
      {"capture at resolution 13", [] { return CAT3DI_CaptureVideoTransferON(0, 0, 13, 0); }},
      {"capture of input 16 of 16", [] { return CAT3DI_CaptureVideoTransferON(0, 16, 8, 0); }},
      {"capture of input -1", [] { return CAT3DI_CaptureVideoTransferON(0, -1, 8, 0); }},
      {"capture off of input 32", [] { return CAT3DI_CaptureVideoTransferOFF(0, 32); }},
      {"wait without an address", [] { return CAT3DI_LockWait4GetImageAddress(0, 0, nullptr, 0); }},
      {"wait on input 99", [&] { return CAT3DI_LockWait4GetImageAddress(0, 99, &address, 0); }},
      {"wait on a missing board", [&] { return CAT3DI_LockWait4GetImageAddress(4, 0, &address, 0); }},
      {"wait without a capture", [&] { return CAT3DI_LockWait4GetImageAddress(0, 0, &address, 0); }},
      {"cancel of input -2", [] { return CAT3DI_CancelLockWait4GetImageAddress(0, -2); }},
      {"brightness 256", [] { return CAT3DI_BRIGHTNESSControl(0, 0, 256); }},
      {"contrast -1", [] { return CAT3DI_CONTRASTControl(0, 0, -1); }},
      {"sharpness of input 16", [] { return CAT3DI_SHARPNESSControl(0, 16, 128); }},
      {"hue 1000", [] { return CAT3DI_HUEControl(0, 0, 1000); }},
      {"saturation U of a missing board", [] { return CAT3DI_SATURATIONUControl(2, 0, 128); }},
      {"saturation V of input 40", [] { return CAT3DI_SATURATIONVControl(0, 40, 128); }},
      {"signal flags without an array", [] { return CAT3DI_CAMERA_SIGNAL(0, nullptr); }},
      {"digital in without an array", [] { return CAT3DI_DIGITALIN_SIGNAL(0, nullptr); }},
      {"digital out without an array", [] { return CAT3DI_DIGITALOUT_SIGNAL(0, nullptr); }},
      {"digital out of a missing board", [&] { return CAT3DI_DIGITALOUT_SIGNAL(1, values.data()); }},
      {"monitor output of input -1", [] { return CAT3DI_TVOUT(0, -1); }},
      {"text at cell 240", [&] { return CAT3DI_OSD(0, 240, 1, text); }},
      {"text at cell -1", [&] { return CAT3DI_OSD2(0, -1, 1, text); }},
      {"text of negative length", [&] { return CAT3DI_OSD(0, 0, -1, text); }},
      {"text without codes", [] { return CAT3DI_OSD2(0, 0, 3, nullptr); }},
      {"RS-485 speed 6", [] { return CAT3DI_RUART_CONFIG(0, 6, 0); }},
      {"RS-485 speed -1", [] { return CAT3DI_RUART_CONFIG(0, -1, 0); }},
      {"RS-485 write without bytes", [] { return CAT3DI_RUART_WRITE(0, nullptr, 3, 100); }},
      {"RS-485 write of negative length", [&] { return CAT3DI_RUART_WRITE(0, text, -5, 100); }},
      {"RS-485 close of a missing board", [] { return CAT3DI_RUART_ESCAPE(9); }},
      {"watchdog of 0 seconds", [] { return CAT3DI_WDOGEnable(0, 0); }},
      {"watchdog off on a missing board", [] { return CAT3DI_WDOGDisable(1); }},
      {"picture size without pointers", [] { return CAT3DI_SimImageSize(0, 0, nullptr, nullptr); }},
      {"picture size of input 32", [&] { return CAT3DI_SimImageSize(0, 32, &width, &height); }},
      {"waiter of input -1", [] { return CAT3DI_SimAwaitWaiter(0, -1, 0); }},
  };
  for (const Row& row : rows) EXPECT_NE(row.call(), kOk) << row.label;
  // Nothing of that changed the board: it still searches, reports and captures.
  ASSERT_EQ(CAT3DI_BDSearch(&count), kOk);
  EXPECT_EQ(count, 1);
  startCapture(0, 12);
  EXPECT_EQ(grab(0, 0).bytes.size(), 160u * 144 * 2);
}

}  // namespace
