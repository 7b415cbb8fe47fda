// The simulated boards behind cat3di.h.
//
// State: one Simulation (the control root, its board count and a Board per
// possible board number), replaced whole by CAT3DI_SimSetControlRoot.
// Callers hold a shared_ptr to the Board they work on, so a reset never frees
// a board under a blocked picture wait; the reset closes the old boards,
// which releases their waits.
//
// Locks, always taken in this order and never while waiting:
//   simulationMutex()  the root, the board count and the board table, only to
//                      copy them out;
//   Board::mutex       the board's open state and its outputs, and the writes
//                      of its control files;
//   Input::mutex       an input's capture state, schedule, cancels and
//                      adjustments; its condition variable wakes the waits.
// Input::pictureMutex guards an input's picture buffer, drawn by the waiting
// thread after it has let go of every other lock.
// The cached control numbers (CachedNumber) have locks of their own, taken
// last and only around their copy of the number.
#include "platform/cat3di/cat3di.h"
#include "platform/cat3di/charset.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/cat3di/sim_files.h"
#include "platform/cat3di/sim_pacing.h"
#include "platform/cat3di/sim_picture.h"

namespace {

using namespace cat3disim;
using Clock = std::chrono::steady_clock;

constexpr int kMaxBoards = 16;
constexpr int kMaxInputs = 32;
constexpr int kInfoEntries = 32;
constexpr int kDefaultBoards = 1;
constexpr int kDefaultModel = 5;
constexpr int kDefaultInputs = 16;
constexpr int kMaxGroups = 8;
constexpr int kOsdColumns = 24;
constexpr int kOsdLines = 10;
constexpr int kOsdCells = kOsdColumns * kOsdLines;
constexpr int kUartSpeeds = 6;
constexpr const char* kSignalFile = "signal";
// How often a stalled wait looks at its stall file again.
constexpr auto kStallPoll = std::chrono::milliseconds(20);
// How long the files read with every picture (the board count, an input's
// stall and signal files) are taken as read; the calls that report them (the
// search, the signal flags) read them at once, for the pictures too.
constexpr auto kPictureFileAge = std::chrono::milliseconds(100);

struct Input {
  std::mutex mutex;
  std::condition_variable wake;
  bool capturing = false;
  // Changes whenever a capture starts or ends: a wait from an earlier
  // capture sees it and gives up.
  std::uint64_t run = 0;
  PictureSize size;
  std::shared_ptr<const std::vector<int>> schedule;
  std::uint64_t scheduleVersion = 0;
  std::uint64_t cancels = 0;
  bool cancelPending = false;
  int waiting = 0;
  // Start of the window whose picture was handed out last (steady clock, us).
  std::int64_t lastDelivered = -1;
  PictureAdjustments adjust;
  int sharpness = 128;
  // Its "stall<N>" and "signal<N>" files, read with every picture.
  std::unique_ptr<CachedNumber> stall;
  std::unique_ptr<CachedNumber> signal;

  std::mutex pictureMutex;
  std::vector<std::uint8_t> picture;
  PictureSize pictureSize;
  // The scene `picture` shows, once drawn: the next picture redraws only the
  // rows where it differs from it (the DMA of a real board costs no CPU, so
  // neither should much of ours).
  std::optional<PictureScene> shownScene;
};

std::string inputFile(const char* name, int input) { return name + std::to_string(input); }

struct Board {
  Board(int number, std::string directory) : number(number), directory(std::move(directory)) {
    for (auto& plane : osd) plane.fill(127);  // the blank of the board's character set
    for (int i = 0; i < kMaxInputs; ++i) {
      Input& in = inputs[static_cast<std::size_t>(i)];
      in.stall = std::make_unique<CachedNumber>(file(inputFile("stall", i)), kPictureFileAge);
      in.signal = std::make_unique<CachedNumber>(file(inputFile(kSignalFile, i)), kPictureFileAge);
    }
  }

  std::string file(const std::string& name) const { return directory + "/" + name; }

  const int number;
  const std::string directory;

  std::mutex mutex;
  bool open = false;
  int mode = 0;
  int standard = 0;
  int model = 0;
  int inputCount = 0;
  std::array<int, kMaxInputs> outputs{};
  bool outputsWritten = false;
  std::array<std::array<unsigned char, kOsdCells>, 2> osd;
  bool uartOpen = false;

  std::array<Input, kMaxInputs> inputs;
};

struct Simulation {
  std::string root;
  std::shared_ptr<CachedNumber> boardCount;  // the "boards" file
  std::array<std::shared_ptr<Board>, kMaxBoards> boards;
};

std::mutex& simulationMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string boardDirectory(const std::string& root, int board) {
  return root + "/brisa" + std::to_string(board);
}

Simulation makeSimulation(const std::string& root) {
  Simulation made;
  made.root = root;
  made.boardCount = std::make_shared<CachedNumber>(root + "/boards", kPictureFileAge);
  for (int b = 0; b < kMaxBoards; ++b)
    made.boards[static_cast<std::size_t>(b)] = std::make_shared<Board>(b, boardDirectory(root, b));
  return made;
}

Simulation& simulation() {
  static Simulation current = makeSimulation("sim");
  return current;
}

int boardCount(std::optional<long long> number) {
  return clampNumber(number, kDefaultBoards, 0, kMaxBoards);
}

int readModel(const Board& board) { return readInt(board.file("model"), kDefaultModel, 0, 1 << 30); }

int readInputs(const Board& board) {
  return readInt(board.file("inputs"), kDefaultInputs, 0, kMaxInputs);
}

int groupCount(int model) { return model == 3 ? 2 : model == 5 ? kMaxGroups : 4; }

// The board of that number when it is present, else null.
std::shared_ptr<Board> findBoard(int board) {
  if (board < 0 || board >= kMaxBoards) return nullptr;
  std::shared_ptr<CachedNumber> count;
  std::shared_ptr<Board> found;
  {
    std::lock_guard<std::mutex> lock(simulationMutex());
    count = simulation().boardCount;
    found = simulation().boards[static_cast<std::size_t>(board)];
  }
  return board < boardCount(count->get()) ? found : nullptr;
}

void writeOpenFile(const Board& board) {
  writeText(board.file("open"), std::string(board.open ? "1 " : "0 ") +
                                    std::to_string(board.mode) + " " +
                                    std::to_string(board.standard) + "\n");
}

// Ends every capture of the board and forgets the schedules (board lock held).
void stopInputs(Board& board) {
  for (Input& input : board.inputs) {
    std::lock_guard<std::mutex> lock(input.mutex);
    if (input.capturing) ++input.run;
    input.capturing = false;
    input.cancelPending = false;
    input.schedule.reset();
    ++input.scheduleVersion;
    input.wake.notify_all();
  }
}

void closeBoard(Board& board) {
  stopInputs(board);
  board.open = false;
  board.uartOpen = false;
}

// Runs `action(board)` under the board's lock when the board is present and
// open; the action answers the status.
template <typename Action>
int withOpenBoard(int number, Action&& action) {
  const std::shared_ptr<Board> board = findBoard(number);
  if (!board) return CAT3DI_ERROR_ARGUMENT;
  std::lock_guard<std::mutex> lock(board->mutex);
  if (!board->open) return CAT3DI_ERROR_STATE;
  return action(*board);
}

// Runs `action(board, input)` under the board's and the input's locks when
// the input is one of the open board's.
template <typename Action>
int withOpenInput(int number, int input, Action&& action) {
  return withOpenBoard(number, [&](Board& board) {
    if (input < 0 || input >= board.inputCount) return CAT3DI_ERROR_ARGUMENT;
    Input& in = board.inputs[static_cast<std::size_t>(input)];
    std::lock_guard<std::mutex> lock(in.mutex);
    return action(board, in);
  });
}

int setAdjustment(int board, int input, int value, int PictureAdjustments::*field) {
  if (value < 0 || value > 255) return CAT3DI_ERROR_ARGUMENT;
  return withOpenInput(board, input, [&](Board&, Input& in) {
    in.adjust.*field = value;
    return CAT3DI_SUCCESS;
  });
}

// The character a display cell shows, as UTF-8: the board's 128-character
// set is ISO 8859-1 code points by position; 127 (and anything beyond the
// set) shows as a blank.
std::string displayCharacter(unsigned char code) {
  const auto& set = cat3diCharacterSet();
  if (code >= 127 || code >= set.size()) return " ";
  const int cp = set[code];
  if (cp < 0x80) return std::string(1, static_cast<char>(cp));
  return std::string{static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
}

int writeOsd(int board, int plane, int position, int length, const unsigned char* codes) {
  if (position < 0 || position >= kOsdCells || length < 0 || (length > 0 && !codes))
    return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    auto& cells = b.osd[static_cast<std::size_t>(plane)];
    const int count = std::min(length, kOsdCells - position);
    for (int i = 0; i < count; ++i) cells[static_cast<std::size_t>(position + i)] = codes[i];
    std::string text;
    text.reserve(kOsdCells + kOsdLines);
    for (int line = 0; line < kOsdLines; ++line) {
      for (int column = 0; column < kOsdColumns; ++column) {
        const unsigned char code = cells[static_cast<std::size_t>(line * kOsdColumns + column)];
        text += displayCharacter(code);
      }
      text += '\n';
    }
    writeText(b.file(plane == 0 ? "osd1.txt" : "osd2.txt"), text);
    return CAT3DI_SUCCESS;
  });
}

std::int64_t steadyMicroseconds(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

// Waits (input lock held through `lock`) until the start of the input's
// next scheduled window while it is not stalled. Answers CAT3DI_SUCCESS, or
// the failure once the wait is cancelled or the capture ends.
int awaitWindow(Input& in, std::unique_lock<std::mutex>& lock, int input) {
  const std::uint64_t run = in.run;
  const std::uint64_t cancels = in.cancels;
  std::optional<std::uint64_t> planned;  // the schedule version `target` was worked out from
  std::optional<Clock::time_point> target;
  std::int64_t window = -1;  // the start of the window `target` stands for
  bool reached = false;
  bool stalled = false;
  for (;;) {
    if (in.cancels != cancels) {
      in.cancelPending = false;
      return CAT3DI_ERROR_CANCELLED;
    }
    if (!in.capturing || in.run != run) return CAT3DI_ERROR_CANCELLED;
    if (reached) {
      in.lastDelivered = window;
      return CAT3DI_SUCCESS;
    }
    if (planned != in.scheduleVersion) {
      planned = in.scheduleVersion;
      target.reset();
      if (in.schedule) {
        // A picture of a window that began since the last one handed out is
        // there already; otherwise the wait lasts until the next window.
        const std::int64_t now = steadyMicroseconds(Clock::now());
        const std::optional<std::int64_t> latest = previousWindow(*in.schedule, input, now);
        const std::optional<std::int64_t> start =
            latest && *latest > in.lastDelivered ? latest : nextWindow(*in.schedule, input, now);
        if (start) {
          window = *start;
          target = Clock::time_point(std::chrono::duration_cast<Clock::duration>(
              std::chrono::microseconds(*start)));
        }
      }
    }
    if (!target) {
      in.wake.wait(lock);
      continue;
    }
    if (Clock::now() < *target) {
      in.wake.wait_until(lock, *target);
      continue;
    }
    // A stall shows within the file age; once stalled, every poll reads the
    // file, so that the end of the stall shows at once.
    lock.unlock();
    stalled = clampNumber(stalled ? in.stall->refresh() : in.stall->get(), 0, 0, 1) == 1;
    lock.lock();
    if (stalled) {
      // Held: the next picture comes with the first window after the stall.
      in.wake.wait_for(lock, kStallPoll);
      planned.reset();
      continue;
    }
    reached = true;
  }
}

}  // namespace

extern "C" {

int CAT3DI_BDSearch(int* count) {
  if (!count) return CAT3DI_ERROR_ARGUMENT;
  std::string root;
  std::shared_ptr<CachedNumber> boards;
  {
    std::lock_guard<std::mutex> lock(simulationMutex());
    root = simulation().root;
    boards = simulation().boardCount;
  }
  *count = boardCount(boards->refresh());
  for (int b = 0; b < *count; ++b) makeDirectory(boardDirectory(root, b));
  return CAT3DI_SUCCESS;
}

int CAT3DI_BDDetailInfo(int board, int info[32]) {
  if (!info) return CAT3DI_ERROR_ARGUMENT;
  const std::shared_ptr<Board> found = findBoard(board);
  if (!found) return CAT3DI_ERROR_ARGUMENT;
  for (int i = 0; i < kInfoEntries; ++i) info[i] = 0;
  info[5] = readInputs(*found);
  static_assert(11 + kMaxBoards <= kInfoEntries, "the model entry of every board fits");
  info[11 + board] = readModel(*found);
  return CAT3DI_SUCCESS;
}

int CAT3DI_BDOpen(int board, int mode, int standard) {
  if (mode != CAT3DI_MODE_DIGITAL_IO && mode != CAT3DI_MODE_PLAIN) return CAT3DI_ERROR_ARGUMENT;
  if (standard != CAT3DI_STANDARD_PAL && standard != CAT3DI_STANDARD_NTSC)
    return CAT3DI_ERROR_ARGUMENT;
  const std::shared_ptr<Board> found = findBoard(board);
  if (!found) return CAT3DI_ERROR_ARGUMENT;
  std::lock_guard<std::mutex> lock(found->mutex);
  if (found->open) closeBoard(*found);
  makeDirectory(found->directory);
  found->model = readModel(*found);
  found->inputCount = readInputs(*found);
  found->mode = mode;
  found->standard = standard;
  found->open = true;
  writeOpenFile(*found);
  return CAT3DI_SUCCESS;
}

int CAT3DI_BDClose(int board) {
  const std::shared_ptr<Board> found = findBoard(board);
  if (!found) return CAT3DI_ERROR_ARGUMENT;
  std::lock_guard<std::mutex> lock(found->mutex);
  closeBoard(*found);
  if (found->mode != 0) writeOpenFile(*found);  // a board never opened has no open file
  return CAT3DI_SUCCESS;
}

int CAT3DI_VideoSliceCtrl(int board, int group, const int* schedule, int slots, int) {
  if (!schedule) return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    const int groups = groupCount(b.model);
    if (group < 0 || group >= groups) return CAT3DI_ERROR_ARGUMENT;
    if (slots != (b.standard == CAT3DI_STANDARD_PAL ? 25 : 30)) return CAT3DI_ERROR_ARGUMENT;
    auto entries = std::make_shared<std::vector<int>>(schedule, schedule + slots);
    for (int entry : *entries)
      if (entry != CAT3DI_SLOT_EMPTY &&
          (entry < 0 || entry >= b.inputCount || entry % groups != group))
        return CAT3DI_ERROR_ARGUMENT;
    for (int i = group; i < kMaxInputs; i += groups) {
      Input& in = b.inputs[static_cast<std::size_t>(i)];
      std::lock_guard<std::mutex> lock(in.mutex);
      in.schedule = entries;
      ++in.scheduleVersion;
      in.wake.notify_all();
    }
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_CaptureVideoTransferON(int board, int input, int resolution, int) {
  return withOpenInput(board, input, [&](Board& b, Input& in) {
    const std::optional<PictureSize> size = resolutionSize(b.standard, resolution);
    if (!size) return CAT3DI_ERROR_ARGUMENT;
    if (!in.capturing) ++in.run;
    in.capturing = true;
    in.cancelPending = false;
    in.size = *size;
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_CaptureVideoTransferOFF(int board, int input) {
  return withOpenInput(board, input, [&](Board&, Input& in) {
    if (in.capturing) ++in.run;
    in.capturing = false;
    in.wake.notify_all();
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_LockWait4GetImageAddress(int board, int input, unsigned char** address, int) {
  if (!address) return CAT3DI_ERROR_ARGUMENT;
  const std::shared_ptr<Board> found = findBoard(board);
  if (!found) return CAT3DI_ERROR_ARGUMENT;
  {
    std::lock_guard<std::mutex> lock(found->mutex);
    if (!found->open) return CAT3DI_ERROR_STATE;
    if (input < 0 || input >= found->inputCount) return CAT3DI_ERROR_ARGUMENT;
  }
  Input& in = found->inputs[static_cast<std::size_t>(input)];
  PictureScene scene;
  PictureSize size;
  {
    std::unique_lock<std::mutex> lock(in.mutex);
    if (!in.capturing) return CAT3DI_ERROR_STATE;
    if (in.cancelPending) {
      in.cancelPending = false;
      return CAT3DI_ERROR_CANCELLED;
    }
    ++in.waiting;
    in.wake.notify_all();
    const int waited = awaitWindow(in, lock, input);
    --in.waiting;
    if (waited != CAT3DI_SUCCESS) return waited;
    scene.adjust = in.adjust;
    size = in.size;
  }

  scene.board = board;
  scene.input = input;
  scene.signal = clampNumber(in.signal->get(), 1, 0, 1) != 0;
  const auto now = std::chrono::system_clock::now();
  scene.wallMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  if (localtime_r(&seconds, &local)) {
    scene.hour = local.tm_hour;
    scene.minute = local.tm_min;
    scene.second = local.tm_sec;
  }

  std::lock_guard<std::mutex> lock(in.pictureMutex);
  const bool sameSize = in.shownScene && in.pictureSize.width == size.width &&
                        in.pictureSize.height == size.height;
  in.picture.resize(static_cast<std::size_t>(size.width) * size.height * 2);
  const ChangedRows changed = sameSize ? changedRows(size.width, size.height, *in.shownScene, scene)
                                       : ChangedRows{.all = true};
  if (changed.all) {
    renderPicture(in.picture.data(), size.width, size.height, scene);
  } else {
    for (int i = 0; i < changed.count; ++i) {
      const RowBand& band = changed.bands[static_cast<std::size_t>(i)];
      renderPictureRows(in.picture.data(), size.width, size.height, scene, band.first, band.end);
    }
  }
  in.shownScene = scene;
  in.pictureSize = size;
  *address = in.picture.data();
  return CAT3DI_SUCCESS;
}

int CAT3DI_CancelLockWait4GetImageAddress(int board, int input) {
  return withOpenInput(board, input, [&](Board&, Input& in) {
    ++in.cancels;
    in.cancelPending = true;
    in.wake.notify_all();
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_BRIGHTNESSControl(int board, int input, int value) {
  return setAdjustment(board, input, value, &PictureAdjustments::brightness);
}

int CAT3DI_CONTRASTControl(int board, int input, int value) {
  return setAdjustment(board, input, value, &PictureAdjustments::contrast);
}

int CAT3DI_SHARPNESSControl(int board, int input, int value) {
  if (value < 0 || value > 255) return CAT3DI_ERROR_ARGUMENT;
  return withOpenInput(board, input, [&](Board&, Input& in) {
    in.sharpness = value;  // kept; the generated pictures have no detail to sharpen
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_HUEControl(int board, int input, int value) {
  return setAdjustment(board, input, value, &PictureAdjustments::hue);
}

int CAT3DI_SATURATIONUControl(int board, int input, int value) {
  return setAdjustment(board, input, value, &PictureAdjustments::saturationU);
}

int CAT3DI_SATURATIONVControl(int board, int input, int value) {
  return setAdjustment(board, input, value, &PictureAdjustments::saturationV);
}

int CAT3DI_CAMERA_SIGNAL(int board, int flags[32]) {
  if (!flags) return CAT3DI_ERROR_ARGUMENT;
  // Read now, and kept for the pictures.
  return withOpenBoard(board, [&](Board& b) {
    for (int i = 0; i < kMaxInputs; ++i)
      flags[i] = i < b.inputCount &&
                 clampNumber(b.inputs[static_cast<std::size_t>(i)].signal->refresh(), 1, 0, 1) != 0;
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_DIGITALIN_SIGNAL(int board, int values[32]) {
  if (!values) return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    if (b.mode != CAT3DI_MODE_DIGITAL_IO) return CAT3DI_ERROR_STATE;
    for (int i = 0; i < kMaxInputs; ++i) values[i] = readInt(b.file(inputFile("din", i)), 1, 0, 1);
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_DIGITALOUT_SIGNAL(int board, const int values[32]) {
  if (!values) return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    if (b.mode != CAT3DI_MODE_DIGITAL_IO) return CAT3DI_ERROR_STATE;
    for (int i = 0; i < kMaxInputs; ++i) {
      const int level = values[i] != 0 ? 1 : 0;
      int& shown = b.outputs[static_cast<std::size_t>(i)];
      if (b.outputsWritten && shown == level) continue;
      shown = level;
      writeText(b.file(inputFile("dout", i)), std::to_string(level) + "\n");
    }
    b.outputsWritten = true;
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_TVOUT(int board, int input) {
  return withOpenBoard(board, [&](Board& b) {
    if (input < 0 || input >= b.inputCount) return CAT3DI_ERROR_ARGUMENT;
    writeText(b.file("tvout"), std::to_string(input) + "\n");
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_OSD(int board, int position, int length, const unsigned char* codes) {
  return writeOsd(board, 0, position, length, codes);
}

int CAT3DI_OSD2(int board, int position, int length, const unsigned char* codes) {
  return writeOsd(board, 1, position, length, codes);
}

int CAT3DI_RUART_CONFIG(int board, int speedCode, int) {
  if (speedCode < 0 || speedCode >= kUartSpeeds) return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    b.uartOpen = true;
    writeText(b.file("rs485speed"), std::to_string(speedCode) + "\n");
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_RUART_WRITE(int board, const unsigned char* bytes, int length, int) {
  if (length < 0 || (length > 0 && !bytes)) return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    if (!b.uartOpen) return CAT3DI_ERROR_STATE;
    if (length == 0) return CAT3DI_SUCCESS;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(static_cast<std::size_t>(length) * 3);
    for (int i = 0; i < length; ++i) {
      if (i > 0) line += ' ';
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 0x0F];
    }
    line += '\n';
    appendText(b.file("rs485.log"), line);
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_RUART_ESCAPE(int board) {
  return withOpenBoard(board, [&](Board& b) {
    b.uartOpen = false;
    writeText(b.file("rs485speed"), "closed\n");
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_WDOGEnable(int board, int seconds) {
  if (seconds <= 0) return CAT3DI_ERROR_ARGUMENT;
  return withOpenBoard(board, [&](Board& b) {
    writeText(b.file("watchdog"), "enabled " + std::to_string(seconds) + "\n");
    return CAT3DI_SUCCESS;
  });
}

int CAT3DI_WDOGDisable(int board) {
  return withOpenBoard(board, [&](Board& b) {
    writeText(b.file("watchdog"), "disabled\n");
    return CAT3DI_SUCCESS;
  });
}

void CAT3DI_SimSetControlRoot(const char* directory) {
  const std::string root = directory && *directory ? directory : "sim";
  Simulation fresh = makeSimulation(root);
  std::array<std::shared_ptr<Board>, kMaxBoards> old;
  {
    std::lock_guard<std::mutex> lock(simulationMutex());
    old = simulation().boards;
    simulation() = std::move(fresh);
  }
  // The old boards are out of the table: close them to release their waits.
  for (const std::shared_ptr<Board>& board : old) {
    std::lock_guard<std::mutex> lock(board->mutex);
    closeBoard(*board);
  }
}

int CAT3DI_SimImageSize(int board, int input, int* width, int* height) {
  if (!width || !height || input < 0 || input >= kMaxInputs) return CAT3DI_ERROR_ARGUMENT;
  const std::shared_ptr<Board> found = findBoard(board);
  if (!found) return CAT3DI_ERROR_ARGUMENT;
  Input& in = found->inputs[static_cast<std::size_t>(input)];
  std::lock_guard<std::mutex> lock(in.pictureMutex);
  *width = in.pictureSize.width;
  *height = in.pictureSize.height;
  return CAT3DI_SUCCESS;
}

int CAT3DI_SimAwaitWaiter(int board, int input, int timeoutMs) {
  if (input < 0 || input >= kMaxInputs || timeoutMs < 0) return CAT3DI_ERROR_ARGUMENT;
  const std::shared_ptr<Board> found = findBoard(board);
  if (!found) return CAT3DI_ERROR_ARGUMENT;
  Input& in = found->inputs[static_cast<std::size_t>(input)];
  std::unique_lock<std::mutex> lock(in.mutex);
  const bool waiting = in.wake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [&] { return in.waiting > 0; });
  return waiting ? CAT3DI_SUCCESS : CAT3DI_ERROR_STATE;
}

}  // extern "C"
