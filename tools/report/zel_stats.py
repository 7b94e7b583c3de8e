"""Reading zel-cli's JSON-lines stats files (--stats-format jsonl).

Each line is one interval's figures; the latency kinds also come as
"<kind>_buckets": {"LOW": COUNT, ...}, the interval's counts by each bucket's
smallest value in microseconds. The buckets are those of zel-cli's histogram
(every value below 256 us alone, then 128 buckets per power of two), so the
counts of several intervals, and of several shards' files, add up exactly.
"""
import json
import math

KINDS = ("connect", "login", "stream", "recovery")


def bucket_width(low):
    """Width in microseconds of the bucket that starts at low."""
    if low < 256:
        return 1
    return 1 << (low.bit_length() - 8)


def bucket_middle(low):
    return low if low < 256 else low + bucket_width(low) / 2.0


def read_lines(path):
    """The JSON objects of a stats file; lines that do not parse are skipped."""
    out = []
    with open(path, errors="replace") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            if isinstance(obj, dict):
                out.append(obj)
    return out


def add_buckets(total, buckets):
    """Adds one {"LOW": COUNT} object to total (a dict of int -> int)."""
    if not isinstance(buckets, dict):
        return
    for low, n in buckets.items():
        try:
            low, n = int(low), int(n)
        except (TypeError, ValueError):
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
