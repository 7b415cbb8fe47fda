#!/usr/bin/env python3
"""Loopback test camera: answers the snapshot URLs of several network camera
makes with generated JPEG pictures, and can misbehave on demand.

Used by the tests and the demo. Every request line (except control requests)
is appended to the --log file exactly as received, before the reply is sent,
so a client that has its reply can already read its line in the log.

Picture URLs (the path decides the form, query parameters pick the size):
  /jpg/image.jpg?resolution=WxH           WxH (default 320x240)
  /fullsize.jpg                           320x240
  /hugesize.jpg                           640x480
  /axis-cgi/jpg/image.cgi?resolution=R    R: QCIF, CIF (default), 2CIF, 4CIF or WxH
  /SnapshotJPEG?Resolution=WxH            WxH (default 320x240)
  /cgi-bin/camera                         320x240
  /cgi-bin/video.jpg?size=S               S=3: 640x480, otherwise 320x240
  /cgi-bin/videoN.jpg?size=S              as above, N a channel number
  /record/current.jpg                     640x480
  /imagesNfull, /imagesNsif               640x480, 320x240
  /oneshotimage.jpg                       640x480
  /camera/N.jpg?width=W&height=H          WxH (defaults 320 and 240)
Any other path gets 404. Widths and heights are clamped to 16..4096.

The picture is a bright square, a quarter of the picture wide, that jumps to a
different cell of a 4x2 grid on each request for the same URL (8 frames in a
cycle), over a dark background; with --still every request gets one fixed
picture.

Modes (--mode, or at run time through /__control):
  ok         a JPEG picture
  stall      read the request, never answer until the client goes away
  fail       500 with an HTML body
  garbage    200, image/jpeg, a few kilobytes of random bytes (not a JPEG)
  huge       200, image/jpeg, no Content-Length: the start of a JPEG, then
             filler bytes without end until the client closes
  close      close the connection without any reply
  truncated  200, image/jpeg, no Content-Length: the first half of a JPEG
stall, close and fail apply to every request path; the others apply to
picture URLs after the authentication check and the 404 for unknown paths.

Control (never logged, never needs authentication, ignores the mode):
  GET /__control?mode=M&still=0|1&size=WxH|none&auth=USER:PASS|none
changes the given settings together and answers 200 "ok"; an unknown
parameter or value changes nothing and answers 400.
"""

import argparse
import base64
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, urlsplit

MODES = ("ok", "stall", "fail", "garbage", "huge", "close", "truncated")
MIN_SIDE, MAX_SIDE = 16, 4096
CYCLE = 8
CONTROL_PATH = "/__control"
DEFAULT_SIZE = (320, 240)
NAMED_SIZES = {"qcif": (176, 144), "cif": (352, 288), "2cif": (704, 288), "4cif": (704, 576)}

stopping = threading.Event()


def clamp_size(width, height):
    return (min(max(width, MIN_SIDE), MAX_SIDE), min(max(height, MIN_SIDE), MAX_SIDE))


def parse_wxh(text):
    """'640x480' -> (640, 480) clamped; None when the text is not WxH."""
    m = re.fullmatch(r"\s*(\d{1,9})\s*[xX*]\s*(\d{1,9})\s*", text or "")
    if not m:
        return None
    return clamp_size(int(m.group(1)), int(m.group(2)))


def parse_int(text, default):
    try:
        return int(text)
    except (TypeError, ValueError):
        return default


def picture_size(path, params):
    """The size a picture URL asks for, or None when the path is not one."""
    if path == "/jpg/image.jpg":
        return parse_wxh(params.get("resolution")) or DEFAULT_SIZE
    if path == "/fullsize.jpg":
        return (320, 240)
    if path == "/hugesize.jpg":
        return (640, 480)
    if path == "/axis-cgi/jpg/image.cgi":
        res = params.get("resolution", "")
        return NAMED_SIZES.get(res.strip().lower()) or parse_wxh(res) or NAMED_SIZES["cif"]
    if path == "/SnapshotJPEG":
        return parse_wxh(params.get("resolution")) or DEFAULT_SIZE
    if path == "/cgi-bin/camera":
        return (320, 240)
    if re.fullmatch(r"/cgi-bin/video\d*\.jpg", path):
        return (640, 480) if params.get("size", "").strip() == "3" else (320, 240)
    if path == "/record/current.jpg":
        return (640, 480)
    m = re.fullmatch(r"/images\d+(full|sif)", path)
    if m:
        return (640, 480) if m.group(1) == "full" else (320, 240)
    if path == "/oneshotimage.jpg":
        return (640, 480)
    if re.fullmatch(r"/camera/\d+\.jpg", path):
        return clamp_size(parse_int(params.get("width"), DEFAULT_SIZE[0]),
                          parse_int(params.get("height"), DEFAULT_SIZE[1]))
    return None


# --- Pictures -----------------------------------------------------------------

BACKGROUND = bytes((16, 20, 40))
SQUARE = bytes((240, 240, 220))
# Cells (column, row) of the 4x2 grid visited by the moving square; every
# frame uses another cell, so consecutive frames never overlap.
CELLS = ((0, 0), (2, 1), (1, 0), (3, 1), (0, 1), (2, 0), (1, 1), (3, 0))


def draw_ppm(width, height, x0, y0, side):
    """A P6 picture: the background with one square of `side` at (x0, y0)."""
    blank = BACKGROUND * width
    row = BACKGROUND * x0 + SQUARE * side + BACKGROUND * (width - x0 - side)
    return (b"P6 %d %d 255\n" % (width, height)
            + blank * y0 + row * side + blank * (height - y0 - side))


def square_side(width, height):
    return max(1, min(width // 4, height // 2))


def moving_frame(width, height, index):
    side = square_side(width, height)
    cell_w, cell_h = width // 4, height // 2
    col, row = CELLS[index % len(CELLS)]
    return draw_ppm(width, height, col * cell_w + (cell_w - side) // 2,
                    row * cell_h + (cell_h - side) // 2, side)


def still_frame(width, height):
    side = square_side(width, height)
    return draw_ppm(width, height, (width - side) // 2, (height - side) // 2, side)


def encode_jpegs(ppms):
    """Baseline 4:2:0 JPEGs of the given P6 pictures, through ffmpeg."""
    with tempfile.TemporaryDirectory(prefix="test-camera-") as tmp:
        with open(os.path.join(tmp, "stderr"), "w+b") as err:
            proc = subprocess.Popen(
                ["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "image2pipe", "-c:v", "ppm",
                 "-i", "-", "-pix_fmt", "yuvj420p", "-q:v", "5", "-f", "image2",
                 os.path.join(tmp, "f%03d.jpg")],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=err)
            try:
                for ppm in ppms:
                    proc.stdin.write(ppm)
            except BrokenPipeError:
                pass
            finally:
                try:
                    proc.stdin.close()
                except BrokenPipeError:
                    pass
            rc = proc.wait()
            err.seek(0)
            message = err.read().decode(errors="replace").strip()
        names = sorted(n for n in os.listdir(tmp) if n.endswith(".jpg"))
        if rc != 0 or len(names) != len(ppms):
            raise RuntimeError("ffmpeg failed (exit %d, %d of %d pictures): %s"
                               % (rc, len(names), len(ppms), message))
        jpegs = []
        for name in names:
            with open(os.path.join(tmp, name), "rb") as f:
                jpegs.append(f.read())
        return jpegs


class PictureCache:
    """Encoded pictures per size: the moving cycle and the still picture, made
    on first use of a size. Sizes are made independently, so a slow large size
    does not hold up others; only the most recently made sizes are kept."""

    KEEP = 16

    def __init__(self):
        self._lock = threading.Lock()
        self._entries = {}  # (w, h) -> [lock, (moving list, still) or None]

    def get(self, size):
        with self._lock:
            entry = self._entries.get(size)
            if entry is None:
                entry = self._entries[size] = [threading.Lock(), None]
        with entry[0]:
            if entry[1] is None:
                w, h = size
                jpegs = encode_jpegs([moving_frame(w, h, i) for i in range(CYCLE)]
                                     + [still_frame(w, h)])
                entry[1] = (jpegs[:CYCLE], jpegs[CYCLE])
                with self._lock:
                    while len(self._entries) > self.KEEP:
                        del self._entries[next(iter(self._entries))]
            return entry[1]


# --- Server state -------------------------------------------------------------

class Settings:
    """What the control path can change; read as one snapshot per request."""

    def __init__(self, mode, still, size, auth):
        self.lock = threading.Lock()
        self.mode, self.still, self.size, self.auth = mode, still, size, auth

    def snapshot(self):
        with self.lock:
            return self.mode, self.still, self.size, self.auth

    def apply(self, params):
        """Applies control parameters; returns an error text or None."""
        changes = {}
        for name, value in params:
            if name == "mode" and value in MODES:
                changes["mode"] = value
            elif name == "still" and value in ("0", "1"):
                changes["still"] = value == "1"
            elif name == "size" and (value == "none" or parse_wxh(value)):
                changes["size"] = None if value == "none" else parse_wxh(value)
            elif name == "auth" and (value == "none" or ":" in value):
                changes["auth"] = None if value == "none" else value
            else:
                return "bad control parameter %s=%s" % (name, value)
        with self.lock:
            for name, value in changes.items():
                setattr(self, name, value)
        return None


class RequestLog:
    def __init__(self, path):
        self._lock = threading.Lock()
        self._file = open(path, "ab") if path else None

    def write(self, raw_line):
        if self._file is None:
            return
        with self._lock:
            self._file.write(raw_line.rstrip(b"\r\n") + b"\n")
            self._file.flush()

    def close(self):
        if self._file is not None:
            self._file.close()


class FrameCounter:
    """Per request target, so several clients on different URLs each see the
    pattern move on every one of their requests."""

    def __init__(self):
        self._lock = threading.Lock()
        self._counts = {}

    def next(self, key):
        with self._lock:
            if len(self._counts) > 4096:
                self._counts.clear()
            n = self._counts.get(key, 0)
            self._counts[key] = n + 1
            return n % CYCLE


# --- HTTP -----------------------------------------------------------------------

class CameraHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "TestCamera/1.0"
    sys_version = ""
    timeout = 60  # a client that neither sends nor reads frees its thread

    def log_message(self, format, *args):
        pass

    def parse_request(self):
        ok = super().parse_request()
        if not ok or self._split_target()[0] != CONTROL_PATH:
            self.server.request_log.write(self.raw_requestline)
        return ok

    def _split_target(self):
        target = self.path
        if not target.startswith("/"):
            parts = urlsplit(target)
            target = (parts.path or "/") + ("?" + parts.query if parts.query else "")
        path, _, query = target.partition("?")
        return path, query

    def _reply(self, code, body, content_type="text/html", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def _html(self, code, text):
        self._reply(code, b"<html><body><h1>%d %s</h1></body></html>\n" % (code, text.encode()))

    def _start_stream(self):
        self.send_response(200)
        self.send_header("Content-Type", "image/jpeg")
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        self.end_headers()

    def _authorised(self, auth):
        if auth is None:
            return True
        kind, _, token = self.headers.get("Authorization", "").partition(" ")
        if kind.lower() != "basic":
            return False
        try:
            given = base64.b64decode(token.strip(), validate=True).decode("utf-8")
        except ValueError:
            return False
        return given == auth

    def do_GET(self):
        try:
            self._serve()
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            self.close_connection = True

    def _serve(self):
        self.close_connection = True
        path, query = self._split_target()
        params = parse_qsl(query, keep_blank_values=True)
        if path == CONTROL_PATH:
            error = self.server.settings.apply(params)
            if error:
                self._reply(400, (error + "\n").encode(), "text/plain")
            else:
                self._reply(200, b"ok\n", "text/plain")
            return
        mode, still, forced_size, auth = self.server.settings.snapshot()
        if mode == "stall":
            self._stall()
            return
        if mode == "close":
            return
        if mode == "fail":
            self._html(500, "Internal Server Error")
            return
        if not self._authorised(auth):
            self._reply(401, b"<html><body><h1>401 Unauthorized</h1></body></html>\n",
                        headers=[("WWW-Authenticate", 'Basic realm="camera"')])
            return
        size = picture_size(path, {k.lower(): v for k, v in params})
        if size is None:
            self._html(404, "Not Found")
            return
        if mode == "garbage":
            body = bytearray(os.urandom(4096 + int.from_bytes(os.urandom(2), "big") % 4096))
            if body[0] == 0xFF:
                body[0] = 0x00
            self._reply(200, bytes(body), "image/jpeg")
            return
        try:
            moving, still_jpeg = self.server.pictures.get(forced_size or size)
        except (OSError, RuntimeError) as e:
            sys.stderr.write("test_camera: %s\n" % e)
            self._html(500, "Internal Server Error")
            return
        jpeg = still_jpeg if still else moving[self.server.frames.next(self.path)]
        if mode == "huge":
            self._stream_endless(jpeg)
        elif mode == "truncated":
            self._start_stream()
            self.wfile.write(jpeg[:len(jpeg) // 2])
        else:
            self._reply(200, jpeg, "image/jpeg")

    def _stall(self):
        """Keeps the connection open without answering until the client
        closes it or the server stops."""
        sock = self.connection
        while not stopping.is_set():
            readable, _, _ = select.select([sock], [], [], 0.2)
            if readable:
                try:
                    if not sock.recv(65536):
                        return
                except OSError:
                    return

    def _stream_endless(self, jpeg):
        self._start_stream()
        self.wfile.write(jpeg[:-2])  # everything up to the end-of-image marker
        filler = b"\x00" * 65536
        while not stopping.is_set():
            self.wfile.write(filler)


class CameraServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def __init__(self, address, settings, request_log):
        super().__init__(address, CameraHandler)
        self.settings = settings
        self.request_log = request_log
        self.pictures = PictureCache()
        self.frames = FrameCounter()

    def handle_error(self, request, client_address):
        if isinstance(sys.exc_info()[1], (ConnectionError, socket.timeout)):
            return
        super().handle_error(request, client_address)


def write_port_file(path, port):
    directory = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".port-", dir=directory)
    try:
        with os.fdopen(fd, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def size_argument(text):
    size = parse_wxh(text)
    if size is None:
        raise argparse.ArgumentTypeError("expected WxH, e.g. 640x480")
    return size


def auth_argument(text):
    if ":" not in text:
        raise argparse.ArgumentTypeError("expected USER:PASS")
    return text


def main(argv=None):
    parser = argparse.ArgumentParser(description="Loopback test camera serving generated JPEG snapshots.")
    parser.add_argument("--port", type=int, default=0, help="TCP port; 0 picks a free one (default)")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port-file", help="write the port number here once listening")
    parser.add_argument("--log", help="append each request line to this file")
    parser.add_argument("--still", action="store_true", help="the same picture on every request")
    parser.add_argument("--size", type=size_argument, help="always serve WxH, whatever the URL asks")
    parser.add_argument("--auth", type=auth_argument, help="require HTTP basic authentication USER:PASS")
    parser.add_argument("--mode", choices=MODES, default="ok", help="how to answer (default ok)")
    args = parser.parse_args(argv)

    request_log = RequestLog(args.log)
    server = CameraServer((args.bind, args.port), Settings(args.mode, args.still, args.size, args.auth),
                          request_log)

    def stop(signum, frame):
        if not stopping.is_set():
            stopping.set()
            threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.port_file:
        write_port_file(args.port_file, server.server_address[1])
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        stopping.set()
        server.server_close()
        request_log.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
