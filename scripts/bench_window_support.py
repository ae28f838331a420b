"""What scripts/bench-window runs on: the processes it starts and ends
(all of them at exit), their CPU time, the program's preview statistics
lines, a virtual X server, and what a recording file holds."""

import os
import re
import select
import signal
import subprocess
import sys
import threading
import time

TICKS = os.sysconf("SC_CLK_TCK")
STATS = re.compile(rb"lumora-preview: presented=(\d+) painted=(\d+)")

running = []  # every process started here, ended at exit whatever happens


def note(text):
    print(text, file=sys.stderr, flush=True)


def start(argv, **kwargs):
    process = subprocess.Popen(argv, **kwargs)
    running.append(process)
    return process


def end(process, signal_number=signal.SIGTERM, patience=15):
    if process.poll() is None:
        process.send_signal(signal_number)
        try:
            process.wait(patience)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    if process in running:
        running.remove(process)


def end_all():
    for process in reversed(list(running)):
        end(process, patience=5)


def on_signal(number, _frame):
    raise SystemExit(128 + number)


def cpu_seconds(pid):
    """User and system time of a process, all its threads."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def start_x_server(log, screen):
    read_end, write_end = os.pipe()
    server = start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen + "x24", "-nolisten", "tcp",
                    "-noreset"], pass_fds=[write_end], stdout=log, stderr=log)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        if select.select([read_end], [], [], 0.5)[0]:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
    os.close(read_end)
    if not number.strip():
        sys.exit("Xvfb did not start (see %s)" % log.name)
    return server, ":" + number.decode().strip()


class StatsReader:
    """Reads the program's output into its log, and keeps its preview counts
    with the time each line arrived."""

    def __init__(self, stream, log_path):
        self.samples = []  # (arrival, presented, painted)
        self.arrived = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(stream, log_path), daemon=True)
        self.thread.start()

    def _read(self, stream, log_path):
        with open(log_path, "ab") as log:
            for line in iter(stream.readline, b""):
                log.write(line)
                found = STATS.search(line)
                if found:
                    with self.arrived:
                        self.samples.append((time.monotonic(), int(found[1]), int(found[2])))
                        self.arrived.notify_all()

    def between(self, begin, finish):
        """The first and the last sample that arrived in [begin, finish]."""
        with self.arrived:
            inside = [s for s in self.samples if begin <= s[0] <= finish]
        return (inside[0], inside[-1]) if len(inside) >= 2 else None

    def next_after(self, moment, patience=5):
        """The first sample that arrived after `moment`, waiting for it; None
        when none comes."""
        deadline = time.monotonic() + patience
        with self.arrived:
            while True:
                later = [s for s in self.samples if s[0] > moment]
                if later:
                    return later[0]
                if not self.arrived.wait(deadline - time.monotonic()):
                    return None


def median_run(runs):
    """The (program, X server) run of median total CPU, or None."""
    ordered = sorted(runs, key=sum)
    return ordered[len(ordered) // 2] if ordered else None


def describe_run(run):
    return "failed" if run is None else "%.1f %% + %.1f %% X" % run


def picture_seconds(data):
    """Seconds of pictures in an AVI file's bytes: the "00dc"/"00db" chunks
    of its movie lists at the video stream's rate; None without a video
    stream or an index (not finished)."""
    pictures, rate, indexed = 0, None, False

    def u32(at):
        return int.from_bytes(data[at:at + 4], "little")

    def walk(begin, end, in_movie):
        nonlocal pictures, rate, indexed
        at = begin
        while at + 8 <= end:
            tag, size, body = data[at:at + 4], u32(at + 4), at + 8
            if tag in (b"RIFF", b"LIST"):
                walk(body + 4, min(end, body + size), in_movie or data[body:body + 4] == b"movi")
            elif in_movie and tag[:3] == b"00d":
                pictures += 1
            elif tag == b"strh" and data[body:body + 4] == b"vids" and u32(body + 20):
                rate = u32(body + 24) / u32(body + 20)
            elif tag == b"idx1":
                indexed = True
            at = body + size + (size & 1)

    # The RIFF list and, past 1 GB, its "AVIX" sequels.
    walk(0, len(data), False)
    return pictures / rate if rate and indexed else None


def finished_picture_seconds(path, patience=10):
    """picture_seconds() of the file once Stop has finished it."""
    deadline = time.monotonic() + patience
    while True:
        try:
            with open(path, "rb") as avi:
                seconds = picture_seconds(avi.read())
        except OSError:
            seconds = None
        if seconds is not None or time.monotonic() > deadline:
            return seconds
        time.sleep(0.5)


def check_recording(path):
    """"" when the file holds MJPG pictures and sound, else what is wrong."""
    try:
        with open(path, "rb") as avi:
            head = avi.read(1 << 16)
    except OSError:
        return " (no recording)"
    # Each stream header: "strh", its size, the stream type, the codec.
    streams = {}
    for found in re.finditer(b"strh", head):
        at = found.start()
        streams[head[at + 8:at + 12]] = head[at + 12:at + 16]
    if streams.get(b"vids") != b"MJPG":
        return " (not recorded as MJPG)"
    return "" if b"auds" in streams else " (recorded without sound)"


def print_table(rows):
    header = ["what", "ours", "reference", "ratio"]
    widths = [max(len(row[i]) for row in [header] + rows) for i in range(4)]

    def line(cells):
        return "| " + " | ".join(cell.ljust(widths[i]) for i, cell in enumerate(cells)) + " |"

    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print(line(row))
