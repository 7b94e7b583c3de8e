"""Small stats files for zel-report's tests: two shards of one run with known
figures, and the report's data read back from the page."""
import json
import os
import re
import subprocess

START = "2026-12-10T06:00:00Z"


def stamp(second):
    return "2026-12-10T06:00:%02dZ" % second


def row(second, online, login=None, recovery=None, connection_lost=0, gps_per_s=0.0,
        expected_gps=0.0, phase=""):
    r = {"time": stamp(second), "devices": 30, "online": online, "connecting": 0,
         "gps": 0, "gps_per_s": gps_per_s, "expected_gps_per_s": expected_gps,
         "alarms_per_s": 0, "expected_alarms_per_s": 0, "keepalives_per_s": 1.5,
         "expected_keepalives_per_s": 1.5, "logins_per_s": 2.0,
         "connection_lost": connection_lost, "connection_lost_per_s": 0,
         "login_buckets": login or {}, "recovery_buckets": recovery or {}, "phase": phase}
    r["login_n"] = sum((login or {}).values())
    return r


# Shard 0 writes at even seconds, shard 1 one second later: both fall into the
# same 2-second bins. Bin 2 (seconds 6-7) holds 60 logins of 1 ms in shard 0
# and 40 of 41 ms in shard 1: its merged p50 is 1 ms, its p99 41 ms.
SHARDS = [
    [row(2, 10, {"100": 1, "5120": 2}, phase="ramp"), row(4, 20, {"5120": 1}, phase="steady"),
     row(6, 30, {"1000": 60}, phase="steady", gps_per_s=3.0, expected_gps=3.0),
     row(8, 30, phase="steady"), row(10, 30, phase="steady")],
    [row(3, 5, {"100": 3, "40960": 1}, phase="ramp"), row(5, 15, phase="steady"),
     row(7, 25, {"40960": 40}, connection_lost=2, phase="steady", gps_per_s=2.0,
         expected_gps=2.5),
     row(9, 25, recovery={"1048576": 2}, connection_lost=2, phase="steady"),
     row(11, 25, recovery={"2097152": 1}, connection_lost=3, phase="steady")],
]
ONLINE_SUMS = [15, 35, 55, 55, 55]
PHASES = [{"name": "ramp", "start": START, "length_s": 4.0, "completed": True},
          {"name": "steady", "start": stamp(4), "length_s": 8.0, "completed": False}]
ENDS = [{"result": "PASS", "duration_s": 11.5, "phases": PHASES,
         "thresholds": [{"expr": "login_p99<500ms", "measured": "41.088ms", "pass": True}]},
        {"result": "FAIL", "duration_s": 11.6, "phases": PHASES,
         "thresholds": [{"expr": "failures<=0", "measured": "3", "pass": False}]}]


def write_shards(folder):
    """Writes both shards' files (with their run and end facts); their paths."""
    paths = []
    for i, rows in enumerate(SHARDS):
        rows = [dict(r) for r in rows]
        rows[0]["run"] = {"argv": ["zel-cli", "--shard", "%d/2" % i, "-e", "add CAR 30"],
                          "start": START, "shard": "%d/2" % i}
        rows[-1]["end"] = ENDS[i]
        path = os.path.join(folder, "shard%d.jsonl" % i)
        with open(path, "w") as f:
            f.write("".join(json.dumps(r) + "\n" for r in rows))
        paths.append(path)
    return paths


def run_report(zel_report, args, timeout=120):
    return subprocess.run([zel_report] + args, capture_output=True, text=True, timeout=timeout)


def report_data(html_path):
    """The figures the page was drawn from (its zel-report-data block)."""
    with open(html_path, encoding="utf-8") as f:
        text = f.read()
    m = re.search(r'<script type="application/json" id="zel-report-data">(.*?)</script>', text, re.S)
    return json.loads(m.group(1).replace("<\\/", "</")), text
