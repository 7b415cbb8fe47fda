/* The analog capture board library, as the recorder's "Brisa" board kind
 * calls it: board discovery, capture of camera inputs into UYVY pictures
 * paced by a per-group schedule, picture adjustments, signal detection,
 * digital inputs and outputs, the monitor output, two text planes, the
 * RS-485 port and the hardware watchdog.
 *
 * This build simulates the boards. Their pictures are generated (colour
 * bars, a moving square and a line with the board, the input and the time)
 * and their state lives in one control folder per board,
 * "<root>/brisa<board>/", which tests and people drive and read with plain
 * text files:
 *   read:    <root>/boards (default 1), model (default 5), inputs (default 16,
 *            at most 32), signal<N> ("0" cuts the video of input N), din<N>
 *            (raw level, default 1), stall<N> ("1" holds input N's pictures)
 *   written: open ("1 <mode> <standard>" / "0 ..."), dout<N>, tvout,
 *            osd1.txt, osd2.txt, rs485speed, rs485.log, watchdog
 * The files are read again on every call that depends on them. Writes are
 * best effort: a control folder that cannot be written does not fail a call.
 *
 * Every function answers CAT3DI_SUCCESS or a failure code. Board numbers,
 * input numbers and pointers are checked on every call.
 *
 * Threads: every function may be called from any thread at the same time.
 * LockWait4GetImageAddress blocks its caller only; the other functions do
 * not wait for it, and CancelLockWait4GetImageAddress, TransferOFF and
 * BDClose release it at once.
 */
#ifndef TAVEL_PLATFORM_CAT3DI_CAT3DI_H
#define TAVEL_PLATFORM_CAT3DI_CAT3DI_H

#define CAT3DI_SUCCESS 128

/* Failure codes. */
#define CAT3DI_ERROR_ARGUMENT 0  /* no such board or input, a bad value or a null pointer */
#define CAT3DI_ERROR_STATE 1     /* board not open, capture off, port closed, no I/O extension */
#define CAT3DI_ERROR_CANCELLED 2 /* a picture wait released by a cancel, TransferOFF or BDClose */

/* Open modes and standards. */
#define CAT3DI_MODE_DIGITAL_IO 19 /* with the digital I/O extension */
#define CAT3DI_MODE_PLAIN 3       /* without it: the digital I/O calls fail */
#define CAT3DI_STANDARD_PAL 0     /* 25 schedule slots a second */
#define CAT3DI_STANDARD_NTSC 1    /* 30 */

/* The "empty" entry of a capture schedule. */
#define CAT3DI_SLOT_EMPTY 99

#ifdef __cplusplus
extern "C" {
#endif

/* The number of boards present. */
int CAT3DI_BDSearch(int* count);
/* info[5] = number of inputs, info[11 + board] = model code, the rest 0. */
int CAT3DI_BDDetailInfo(int board, int info[32]);
/* Opens a board (opening an open board opens it afresh). mode 19 or 3,
 * standard 0 (PAL) or 1 (NTSC). Every call below but BDClose needs it. */
int CAT3DI_BDOpen(int board, int mode, int standard);
/* Stops every capture, releases every picture wait and forgets the
 * schedules. Closing a closed board succeeds. */
int CAT3DI_BDClose(int board);

/* Installs the schedule of capture group `group` (0 .. G-1 with G = 2 for
 * model 3, 8 for model 5, 4 otherwise; input i belongs to group i mod G).
 * `slots` must be the standard's slots per second (25 PAL, 30 NTSC); entry j
 * covers the window [j, j+1) * (1000 / slots) ms of every second and names
 * an input of the group or 99 (empty). */
int CAT3DI_VideoSliceCtrl(int board, int group, const int* schedule, int slots, int reserved);
/* Starts (or changes the resolution of) the capture of an input.
 * Resolution indexes, PAL / NTSC: 1 720x576/480, 2 704x576/480, 3 640x576/480,
 * 4 720x288/240, 5 704x288/240, 6 640x288/240, 7 360x288/240, 8 352x288/240,
 * 9 320x288/240, 10 180x144/120, 11 176x144/120, 12 160x144/120. */
int CAT3DI_CaptureVideoTransferON(int board, int input, int resolution, int reserved);
int CAT3DI_CaptureVideoTransferOFF(int board, int input);
/* Blocks until the start of the input's next window in its group's
 * schedule (forever without one, and while the input is stalled), then sets
 * *address to the input's newest UYVY picture (width * height * 2 bytes),
 * valid until the next call for that input. Fails at once when the capture
 * is off, and returns CAT3DI_ERROR_CANCELLED when released. */
int CAT3DI_LockWait4GetImageAddress(int board, int input, unsigned char** address, int reserved);
/* Releases the input's blocked picture waits at once. With none blocked,
 * the input's next wait fails at once instead, so that a cancel racing with
 * the start of a wait is not lost; TransferON forgets such a cancel. */
int CAT3DI_CancelLockWait4GetImageAddress(int board, int input);

/* Picture adjustments, 0..255 with 128 neutral. */
int CAT3DI_BRIGHTNESSControl(int board, int input, int value);
int CAT3DI_CONTRASTControl(int board, int input, int value);
int CAT3DI_SHARPNESSControl(int board, int input, int value);
int CAT3DI_HUEControl(int board, int input, int value);
int CAT3DI_SATURATIONUControl(int board, int input, int value);
int CAT3DI_SATURATIONVControl(int board, int input, int value);

/* flags[N] = 1 when input N has a video signal (0 beyond the board's inputs). */
int CAT3DI_CAMERA_SIGNAL(int board, int flags[32]);
/* The raw levels of the 32 digital inputs (needs mode 19). */
int CAT3DI_DIGITALIN_SIGNAL(int board, int values[32]);
/* Sets the 32 digital outputs, non-zero meaning 1 (needs mode 19). */
int CAT3DI_DIGITALOUT_SIGNAL(int board, const int values[32]);
/* Shows an input on the monitor output. */
int CAT3DI_TVOUT(int board, int input);
/* Writes `length` character codes to a text plane from cell `position`
 * (0..239: ten lines of 24 cells); codes beyond the last cell are cut. */
int CAT3DI_OSD(int board, int position, int length, const unsigned char* codes);
int CAT3DI_OSD2(int board, int position, int length, const unsigned char* codes);

/* Opens (or re-configures) the RS-485 port: speed codes 0..5 = 1200, 2400,
 * 4800, 9600, 19200, 38400 bps. */
int CAT3DI_RUART_CONFIG(int board, int speedCode, int reserved);
/* Sends bytes on the open port; `timeout` is not used by the simulation. */
int CAT3DI_RUART_WRITE(int board, const unsigned char* bytes, int length, int timeout);
/* Closes the RS-485 port. */
int CAT3DI_RUART_ESCAPE(int board);

int CAT3DI_WDOGEnable(int board, int seconds);
int CAT3DI_WDOGDisable(int board);

/* Simulation only: where the control folders live (default "sim" relative
 * to the working directory; null or empty means that default). Also resets
 * every board to its state at start-up, releasing every picture wait. */
void CAT3DI_SimSetControlRoot(const char* directory);
/* Simulation only: the size of the picture the input's last wait gave (0 x 0
 * before the first one). */
int CAT3DI_SimImageSize(int board, int input, int* width, int* height);
/* Simulation only: blocks until a thread is blocked in the input's picture
 * wait, at most timeoutMs; CAT3DI_SUCCESS when one is. For tests that must
 * release a wait that is known to be under way. */
int CAT3DI_SimAwaitWaiter(int board, int input, int timeoutMs);

#ifdef __cplusplus
}
#endif

#endif
