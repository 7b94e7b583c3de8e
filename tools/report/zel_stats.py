"""Reading zel-cli's JSON-lines stats files (--stats-format jsonl).

Each line is one interval's figures; the latency kinds also come as
"<kind>_buckets": {"LOW": COUNT, ...}, the interval's counts by each bucket's
smallest value in microseconds. The buckets are those of zel-cli's histogram
(every value below 256 us alone, then 128 buckets per power of two), so the
counts of several intervals, and of several shards' files, add up exactly.
"""
import calendar
import json
import math
import time

KINDS = ("connect", "login", "stream", "recovery")
FAILURE_KINDS = ("connect_refused", "connect_timeout", "login_unanswered", "login_refused",
                 "connection_lost", "send_failed", "media_setup_failed", "stream_dropped")


def bucket_width(low):
    """Width in microseconds of the bucket that starts at low."""
    if low < 256:
        return 1
    return 1 << (low.bit_length() - 8)


def bucket_middle(low):
    return low if low < 256 else low + bucket_width(low) / 2.0


def read_rows(path):
    """(objects, skipped): the JSON objects of a stats file and the number of
    non-blank lines that are not a JSON object. Raises OSError when the file
    cannot be read."""
    out = []
    skipped = 0
    with open(path, errors="replace") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            try:
                obj = json.loads(line)
            except (ValueError, RecursionError):
                obj = None
            if isinstance(obj, dict):
                out.append(obj)
            else:
                skipped += 1
    return out, skipped


def read_lines(path):
    """The JSON objects of a stats file; lines that do not parse are skipped."""
    return read_rows(path)[0]


def parse_time(text):
    """Seconds since the epoch of a "2026-12-10T05:49:00Z" stamp (UTC), None
    when text is not one."""
    if not isinstance(text, str):
        return None
    try:
        return float(calendar.timegm(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ")))
    except (ValueError, OverflowError):
        return None


def number(row, key):
    """row[key] as a float, None when absent or not a finite number."""
    v = row.get(key)
    if isinstance(v, bool) or not isinstance(v, (int, float)):
        return None
    v = float(v)
    return v if math.isfinite(v) else None


def add_buckets(total, buckets):
    """Adds one {"LOW": COUNT} object to total (a dict of int -> int)."""
    if not isinstance(buckets, dict):
        return
    for low, n in buckets.items():
        try:
            low, n = int(low), int(n)
        except (TypeError, ValueError, OverflowError):
            continue
        if low >= 0 and n > 0:
            total[low] = total.get(low, 0) + n


def merged_buckets(rows, kind):
    """Every interval's counts of kind added up."""
    total = {}
    for row in rows:
        add_buckets(total, row.get(kind + "_buckets"))
    return total


def count(buckets):
    return sum(buckets.values())


def percentile_ms(buckets, q):
    """The middle of the bucket holding the ceil(q x n)-th value, in ms (None
    without counts); q < 0 gives the max."""
    n = count(buckets)
    if n == 0:
        return None
    lows = sorted(buckets)
    if q < 0:
        return bucket_middle(lows[-1]) / 1000.0
    rank = max(1, min(n, math.ceil(q * n - 1e-9)))
    seen = 0
    for low in lows:
        seen += buckets[low]
        if seen >= rank:
            return bucket_middle(low) / 1000.0
    return bucket_middle(lows[-1]) / 1000.0


def summary(buckets):
    """{"n", "p50", "p90", "p95", "p99", "max"} in ms."""
    out = {"n": count(buckets)}
    for name, q in (("p50", 0.5), ("p90", 0.9), ("p95", 0.95), ("p99", 0.99), ("max", -1)):
        out[name] = percentile_ms(buckets, q)
    return out


def stats_interval(times):
    """The stats interval in seconds of one file's row times: the most common
    step between rows (at least 1 s; 1 s with fewer than two rows)."""
    steps = {}
    for a, b in zip(times, times[1:]):
        step = round(b - a)
        if step >= 1:
            steps[step] = steps.get(step, 0) + 1
    if not steps:
        return 1
    return max(steps, key=lambda s: (steps[s], -s))


def time_bins(sources, interval):
    """Puts the rows of several files (sources: lists of (seconds, row), each
    in time order) into bins of interval seconds from the earliest row.
    Returns (t0, bins), bins a list of {"t": seconds after t0, "rows": [[the
    rows of source 0], [of source 1], ...]}, one per interval up to the last
    row, empty ones included, so that the shards' rows of one interval merge."""
    starts = [rows[0][0] for rows in sources if rows]
    if not starts:
        return None, []
    t0 = min(starts)
    last = max(rows[-1][0] for rows in sources if rows)
    nbins = int((last - t0) // interval) + 1
    bins = [{"t": i * interval, "rows": [[] for _ in sources]} for i in range(nbins)]
    for i, rows in enumerate(sources):
        for t, row in rows:
            bins[int((t - t0) // interval)]["rows"][i].append(row)
    return t0, bins


def cumulative_ms(buckets):
    """[(ms, count)]: how many values are at most ms, at each counted
    bucket's upper end."""
    out = []
    seen = 0
    for low in sorted(buckets):
        seen += buckets[low]
        out.append(((low + bucket_width(low)) / 1000.0, seen))
    return out
