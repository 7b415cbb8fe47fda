#!/usr/bin/env python3
"""The whole recording path under load.

A headless recorder on a fresh base directory records N cameras continuously
in MPEG-4 for a fixed time: simulated board cameras (eight to a board, one per
capture group), or with --network snapshot cameras served by the test camera
server (tools/test_camera.py, one server for every eight cameras). The index
then tells how many frames each camera stored, and the recorder's own counters
(TAVEL_STATISTICS) where the others were lost and how late the 20 ms "refresh"
heartbeat ran. In the same run the bare MPEG-4 encoder (build/encoder-baseline)
encodes the same pictures, so the recorder's CPU time per recorded frame is
given as a ratio to the encoder's.

  bench/recording.py [-n CAMERAS] [-r FPS] [-s 352|704] [-t SECONDS] [--network]
  bench/recording.py --search [-r FPS] [-s 352|704] [-t SECONDS] [--network]

Columns: configured and recorded frames per second of all cameras and the
share recorded (the worst camera's share in brackets); frames lost at the grab,
the encoder, the full store queue (and the retries of the hand-off) and in the
store; CPU milliseconds per recorded frame, the bare encoder's and their ratio;
peak resident memory, memory per camera, and the resident memory at a quarter
of the run against its end (growth). Rates, shares and CPU time are taken over
the steady part of the run, from a quarter of it to its end, so that start-up
is left out; the heartbeat's lateness at the 99th
percentile and its maximum. The exit status is 0 when at least --min (0.95) of
the configured frames were recorded. --search doubles N from 4, then bisects,
for the largest N that records at least that share; board cameras stop at 128,
all that the 16 simulated boards capture.

TAVEL and BASELINE name the programs (default build/tavel and
build/encoder-baseline of a Release build); TAVEL_WRAP is put before the
recorder's command, e.g. TAVEL_WRAP="perf record -g -o /tmp/p.data".
"""

import argparse
import os
import shlex
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ALWAYS = "A" * 168  # a schedule that is on in every hour of the week
PER_GROUP = 8
# The simulated boards: 16 of them, each capturing eight inputs at full rate.
BOARD_CAMERAS = 16 * PER_GROUP


def settings_lines(n, rate, size, network, ports):
    lines = ["set global global firstrun int 0", "AddRule Always", f"AddRuleNode Always 4 0 0 0 {ALWAYS}"]
    boards = (n + PER_GROUP - 1) // PER_GROUP
    for b in range(boards):
        if network:
            lines.append(f"addcard Network Board{b + 1}")
        else:
            lines += [f"addcard brisa Board{b + 1}", f"set board Board{b + 1} multicard int 1"]
    for i in range(n):
        b = i // PER_GROUP
        cam = f"Cam{i}"
        lines.append(f"addcamera Board{b + 1} {i % PER_GROUP} {cam}")
        if network:
            # Axis video server: "CIF" is 352 x 288, "4CIF" 704 x 576.
            lines += [f"set camera {cam} ctype int 102400", f"set camera {cam} host string 127.0.0.1",
                      f"set camera {cam} port string {ports[b]}", f"set camera {cam} channel int {i % PER_GROUP}",
                      f"set camera {cam} resolution int {1 if size == 704 else 0}"]
        else:
            lines.append(f"set camera {cam} resolution int {2 if size == 704 else 8}")
        lines += [f"set camera {cam} framerate int {rate}", f"set camera {cam} recordbyruleC string Always"]
    return lines


class Servers:
    """Test camera servers, one for every eight network cameras."""

    def __init__(self, count, folder):
        self.processes, self.ports = [], []
        for k in range(count):
            port_file = os.path.join(folder, f"port{k}")
            self.processes.append(subprocess.Popen(
                [sys.executable, os.path.join(TOP, "tools", "test_camera.py"), "--port-file", port_file],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            deadline = time.time() + 30
            while not (os.path.exists(port_file) and open(port_file).read().strip()):
                if time.time() > deadline or self.processes[-1].poll() is not None:
                    self.close()
                    raise RuntimeError("the test camera server did not start")
                time.sleep(0.05)
            self.ports.append(int(open(port_file).read().strip()))

    def close(self):
        for p in self.processes:
            p.terminate()
        for p in self.processes:
            p.wait()


def sample(pid):
    """Resident KiB and CPU seconds (all threads) of a running process."""
    kib, cpu = 0, 0.0
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    kib = int(line.split()[1])
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
            cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        pass
    return kib, cpu


def recorder_pid(root):
    """The recorder itself, also when TAVEL_WRAP runs it as a child."""
    pids = [root]
    while pids:
        pid = pids.pop()
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/exe")) == "tavel":
                return pid
            with open(f"/proc/{pid}/task/{pid}/children") as children:
                pids += [int(c) for c in children.read().split()]
        except OSError:
            pass
    return root


def run(n, args, tavel):
    base = tempfile.mkdtemp(prefix="tavel-recording-")
    servers = None
    try:
        os.makedirs(os.path.join(base, "home"))
        boards = (n + PER_GROUP - 1) // PER_GROUP
        if args.network:
            servers = Servers(boards, base)
        else:
            os.makedirs(os.path.join(base, "sim"))
            with open(os.path.join(base, "sim", "boards"), "w") as f:
                f.write(f"{boards}\n")
            for b in range(boards):
                os.makedirs(os.path.join(base, "sim", f"brisa{b}"))
                with open(os.path.join(base, "sim", f"brisa{b}", "inputs"), "w") as f:
                    f.write(f"{PER_GROUP}\n")
        with open(os.path.join(base, "tavel.drv"), "w") as f:
            f.write("D\n8\n#\n")
        with open(os.path.join(base, "settings.tvl"), "w") as f:
            f.write("\n".join(settings_lines(n, args.rate, args.size, args.network,
                                             servers.ports if servers else [])) + "\n")
        env = dict(os.environ, HOME=os.path.join(base, "home"), TAVEL_STATISTICS=os.path.join(base, "statistics"))
        env.pop("DISPLAY", None)
        command = shlex.split(os.environ.get("TAVEL_WRAP", "")) + [tavel, "--headless"]
        process = subprocess.Popen(command, cwd=base, env=env, stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        samples = []
        started = time.time()
        watched = None
        while time.time() - started < args.seconds:
            time.sleep(min(1.0, max(0.0, args.seconds - (time.time() - started))))
            watched = watched or recorder_pid(process.pid)
            samples.append((time.time(), *sample(watched)))
        process.stdin.write(b"quit\n")
        process.stdin.close()
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = status
        peak = usage.ru_maxrss  # KiB
        if args.samples:
            with open(args.samples, "w") as out:
                for t, kib, cpu in samples:
                    out.write(f"{t - started:.1f} {kib} {cpu:.2f}\n")
        # The steady part of the run: from the first sample after a quarter
        # of it (start-up is over) to the last one before the quit.
        steady = [x for x in samples if x[0] - started >= args.seconds / 4] or samples[-1:]
        window = (steady[0], samples[-1])

        index = os.path.join(base, "drives", "D", "capture", "index.db")
        counts = []
        if os.path.exists(index):
            db = sqlite3.connect(index)
            counts = [c for (c,) in db.execute(
                "SELECT count(*) FROM Datum WHERE time * 1000 + milliseconds BETWEEN ? AND ? "
                "GROUP BY from_device, from_input", (int(window[0][0] * 1000), int(window[1][0] * 1000)))]
            db.close()
        statistics = {}
        path = os.path.join(base, "statistics")
        if os.path.exists(path):
            for line in open(path):
                name, value = line.split()
                statistics[name] = float(value)
        pictures = None
        if servers:
            pictures = os.path.join(base, "pictures.uyvy")
            fetch_pictures(servers.ports[0], args.size, pictures)
        baseline = encoder_baseline(args, pictures, n)
    finally:
        if servers:
            servers.close()
    shutil.rmtree(base, ignore_errors=True)

    frames = sum(counts)
    span = max(window[1][0] - window[0][0], 0.001)
    configured = n * args.rate
    recorded = frames / span
    worst = min(counts) / span / args.rate if len(counts) == n else 0.0
    cpu = window[1][2] - window[0][2]
    return {
        "n": n, "configured": configured, "recorded": recorded,
        "share": recorded / configured if configured else 0.0, "worst": worst,
        "cpu_ms": cpu * 1000.0 / frames if frames else 0.0, "encoder_ms": baseline,
        "peak_mib": peak / 1024.0, "quarter_mib": window[0][1] / 1024.0, "end_mib": window[1][1] / 1024.0,
        "statistics": statistics, "status": process.returncode,
    }


def fetch_pictures(port, size, path):
    """Eight pictures of the test camera (its whole cycle), as raw UYVY."""
    jpegs = b""
    resolution = "4CIF" if size == 704 else "CIF"
    for _ in range(8):
        url = f"http://127.0.0.1:{port}/axis-cgi/jpg/image.cgi?camera=0&resolution={resolution}"
        with urllib.request.urlopen(url, timeout=10) as reply:
            jpegs += reply.read()
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "image2pipe", "-c:v", "mjpeg",
                    "-i", "-", "-f", "rawvideo", "-pix_fmt", "uyvy422", path], input=jpegs, check=True)


def encoder_baseline(args, pictures, n):
    """CPU milliseconds a frame of the bare encoder: n streams in turn, as n cameras."""
    width, height = (704, 576) if args.size == 704 else (352, 288)
    command = [args.baseline, str(width), str(height), str(args.rate), str(max(50, 6400 // n)), "--streams", str(n)]
    if pictures:
        # Network cameras compress at quality 80 unless told otherwise.
        command += ["--pictures", pictures, "--quality", "80"]
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    values = dict(line.split() for line in out.splitlines())
    return float(values["encoder_ms"])


def report(result, args):
    s = result["statistics"]
    height = 576 if args.size == 704 else 288
    kind = "network" if args.network else "board"
    ratio = result["cpu_ms"] / result["encoder_ms"] if result["encoder_ms"] > 0 else 0.0
    print(f"{result['n']:4d} {kind} cameras {args.size}x{height} at {args.rate:2d} fps: "
          f"{result['configured']:5d} fps configured, {result['recorded']:7.1f} recorded "
          f"({result['share'] * 100:5.1f}%, worst camera {result['worst'] * 100:5.1f}%)")
    print(f"     lost: grab {s.get('grab_failed', 0):.0f}, encoder {s.get('encoder_failed', 0):.0f}, "
          f"queue full {s.get('queue_lost', 0):.0f} ({s.get('queue_retried', 0):.0f} retries), "
          f"store {s.get('store_lost', 0):.0f}; grabbed {s.get('grabbed', 0):.0f}, "
          f"handed off {s.get('handed_off', 0):.0f}")
    print(f"     CPU {result['cpu_ms']:.3f} ms a frame, bare encoder {result['encoder_ms']:.3f} ms "
          f"(ratio {ratio:.2f}); memory peak {result['peak_mib']:.0f} MiB "
          f"({result['peak_mib'] / result['n']:.1f} MiB a camera), "
          f"at 1/4 {result['quarter_mib']:.0f} MiB, at end {result['end_mib']:.0f} MiB; "
          f"heartbeat late p99 {s.get('heartbeat_late_p99_ms', 0):.1f} ms, "
          f"max {s.get('heartbeat_late_max_ms', 0):.1f} ms")
    sys.stdout.flush()
    return result["share"] >= args.min


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-n", type=int, default=16, help="cameras (default 16)")
    parser.add_argument("-r", dest="rate", type=int, default=25, help="frames per second (default 25)")
    parser.add_argument("-s", dest="size", type=int, choices=(352, 704), default=352, help="picture width")
    parser.add_argument("-t", dest="seconds", type=float, default=20, help="seconds a run (default 20)")
    parser.add_argument("--network", action="store_true", help="network cameras of the test camera server")
    parser.add_argument("--search", action="store_true", help="find the largest N recording --min")
    parser.add_argument("--min", type=float, default=0.95, help="share a run must record (default 0.95)")
    parser.add_argument("--samples", help="write the once-a-second samples of the recorder here "
                        "(seconds, resident KiB, CPU seconds)")
    args = parser.parse_args()
    tavel = os.path.abspath(os.environ.get("TAVEL", os.path.join(TOP, "build", "tavel")))
    args.baseline = os.path.abspath(os.environ.get("BASELINE", os.path.join(TOP, "build", "encoder-baseline")))
    for program in (tavel, args.baseline):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: cmake --build build --target tavel encoder-baseline")
    limit = None if args.network else BOARD_CAMERAS
    if not args.search and limit and args.n > limit:
        sys.exit(f"at most {limit} board cameras: the simulated boards capture no more")
    print(f"{os.cpu_count()} cores; {args.seconds:g} s a run")
    if not args.search:
        return 0 if report(run(args.n, args, tavel), args) else 1
    good, n = 0, 4
    while (not limit or n <= limit) and report(run(n, args, tavel), args):
        good, n = n, n * 2
    if limit and n > limit and good < limit:
        if report(run(limit, args, tavel), args):
            good = limit
        n = limit
    if good == limit:
        print(f"all {limit} cameras of the simulated boards record at least {args.min * 100:g}%: "
              "the boards, not the recorder, set the limit")
        return 0
    bad = n
    while bad - good > 1:
        middle = (good + bad) // 2
        if report(run(middle, args, tavel), args):
            good = middle
        else:
            bad = middle
    print(f"largest camera count recording at least {args.min * 100:g}%: {good}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
