"""Helpers shared by the whole-system benchmarks (bench/scale, bench/soak).

Child processes driven line by line through their standard input and output,
the figures of a process read from /proc, and the key/value lines that
zel-server and zel-cli print for "stats".
"""
import os
import queue
import re
import shutil
import subprocess
import threading
import time


STATS_LINE = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ "


class Proc:
    """A child process whose standard output is read line by line on a thread.

    With on_stderr, standard error is read on a second thread and every line is
    handed to on_stderr (on that thread); otherwise it goes where stderr says.
    preexec_fn runs in the child before the program starts (see subprocess).
    """

    def __init__(self, args, cwd=None, stderr=None, on_stderr=None, preexec_fn=None):
        if on_stderr is not None:
            stderr = subprocess.PIPE
        self.p = subprocess.Popen(args, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=stderr, text=True, bufsize=1, errors="replace", preexec_fn=preexec_fn)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        if on_stderr is not None:
            threading.Thread(target=self._read_err, args=(on_stderr,), daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def _read_err(self, on_stderr):
        for line in self.p.stderr:
            on_stderr(line.rstrip("\n"))

    def alive(self):
        return self.p.poll() is None

    def send(self, line):
        """False when the process no longer reads its input."""
        try:
            self.p.stdin.write(line + "\n")
            self.p.stdin.flush()
            return True
        except (BrokenPipeError, OSError, ValueError):
            return False

    def expect(self, prefix, timeout):
        """The next output line starting with prefix, or None at the time-out or the end."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                return None
            if line is None:
                self.lines.put(None)  # later callers see the end as well
                return None
            if line.startswith(prefix):
                return line

    def expect_re(self, pattern, timeout):
        """The next output line matching the regular expression, or None."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.expect("", deadline - time.monotonic())
            if line is None or re.match(pattern, line):
                return line

    def ask_stats(self, timeout=30):
        """The next stats line after asking for one (zel-server and zel-cli
        both start it with a UTC time stamp). Lines already waiting (periodic
        stats lines among them) are dropped first: the answer is fresh."""
        while not self.lines.empty():
            if self.lines.get_nowait() is None:
                self.lines.put(None)
                return None
        if not self.send("stats"):
            return None
        return self.expect_re(STATS_LINE, timeout)

    def next_line(self, timeout):
        """The next output line whatever it holds, or None at the time-out or the end."""
        return self.expect("", timeout)

    def ask(self, command, prefix, timeout=30):
        if not self.send(command):
            return None
        return self.expect(prefix, timeout)

    def stop(self, timeout=20):
        if self.p.poll() is None:
            try:
                self.p.terminate()
                self.p.wait(timeout)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()


def start_server(bin_dir, extra=()):
    """zel-server on 127.0.0.1 with a port the system picks, quiet: (Proc, port)."""
    server = Proc([os.path.join(bin_dir, "zel-server"), "--listen", "127.0.0.1:0", "--quiet"] + list(extra))
    line = server.expect("listening on", 10)
    if not line:
        server.stop()
        raise RuntimeError("zel-server did not start")
    return server, int(line.rsplit(":", 1)[1])


def prepare_cli_dir(bin_dir, work, port, frame_path=""):
    """A copy of zel-cli in work with a devset.txt whose REG is the server's port."""
    shutil.copy(os.path.join(bin_dir, "zel-cli"), work)
    with open(os.path.join(work, "devset.txt"), "wb") as f:
        f.write(b'{"REG":"127.0.0.1:%d","VF":"%s"}\0' % (port, frame_path.encode()))
    return os.path.join(work, "zel-cli")


def cpu_sec(pid):
    """utime + stime of a process in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_cpu(pid):
    """utime + stime of each thread of a process, by thread id, in seconds."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            out[tid] = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            pass
    return out


def status_kb(pid, key):
    """A number of /proc/PID/status (VmRSS in KB, Threads ...); -1 when absent."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def open_fds(pid):
    """Number of open descriptors of a process."""
    return len(os.listdir(f"/proc/{pid}/fd"))


def loadavg():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def kv(line):
    """'devices 3 online 2 ...' or 'TIME a=1 a/s=0.5 ...' as a dict of numbers."""
    out = {}
    if not line:
        return out
    words = line.split()
    if "=" in line:
        for w in words:
            m = re.fullmatch(r"([a-z_/-]+)=(\d+(\.\d+)?)", w)
            if m:
                out[m.group(1)] = float(m.group(2)) if m.group(3) else int(m.group(2))
    else:
        for i in range(0, len(words) - 1, 2):
            if words[i + 1].isdigit():
                out[words[i]] = int(words[i + 1])
    return out


def machine_text():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%d cores (nproc), %s, kernel %s" % (os.cpu_count(), model, os.uname().release)


def drain(proc):
    """Every output line a process has left, once it has ended."""
    out = []
    while True:
        line = proc.next_line(1)
        if line is None:
            return out
        out.append(line)


def summary_latency(lines):
    """The latency block of zel-cli's summary ("  login     n=100 p50=110.2ms
    p90=...") as {kind: {"n": 100, "p50": 110.2, ...}} in ms."""
    out = {}
    for line in lines:
        m = re.match(r"  (connect|login|stream|recovery)\s+n=(\d+)(.*)$", line)
        if not m:
            continue
        figures = {"n": int(m.group(2))}
        for key, value in re.findall(r"(p\d+|max)=([\d.]+)ms", m.group(3)):
            figures[key] = float(value)
        out[m.group(1)] = figures
    return out


def latency_text(figures):
    """'n=100 p50=1.2 p90=... max=... ms' or '-'."""
    if not figures or not figures.get("n"):
        return "-"
    return "n=%d p50=%s p99=%s max=%s ms" % (figures["n"], *("%.3g" % figures[k] if figures.get(k) is not None
                                                             else "-" for k in ("p50", "p99", "max")))
