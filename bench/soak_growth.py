"""The judgement of bench/soak: cycles of the samples and the growth checks.

A soak's samples are dicts with at least "t" (seconds since the fleet went
online) and "online" (devices logged in), plus the figures to judge ("rss_kb",
"fds", "threads" ...). The automatic offline makes every figure swing with the
offline cycle, so figures are compared per cycle: a cycle starts when the
fleet comes back online (the online count rises through half the fleet), the
first two cycles are the warm-up, and the maxima of the last third of the remaining
cycles are compared with those of the third before.
"""
import math
import statistics

# The first login and the first offline cycle start everything once, and the
# allocator keeps growing its per-thread heaps over the first cycles of
# streams coming and going: the first two cycles are not judged.
WARM_UP_CYCLES = 2
# A last cycle cut off by the end of the run is judged when it lasted this
# share of a whole one: a cycle starts with its online phase, where figures peak.
TAIL_SHARE = 0.5


class Limit:
    """How much a figure may rise between the two compared windows: the larger
    of a share of the earlier value and an absolute slack."""

    def __init__(self, share, slack):
        self.share = share
        self.slack = slack

    def bound(self, base):
        return base + max(self.share * base, self.slack)


def split_cycles(samples, n_devices):
    """Index ranges [start, end) of the offline cycles.

    The first range starts at sample 0; each further one starts at a sample
    whose online count is at least half the fleet after one below it.
    """
    half = n_devices / 2.0
    starts = [0]
    for i in range(1, len(samples)):
        if samples[i]["online"] >= half > samples[i - 1]["online"]:
            starts.append(i)
    ends = starts[1:] + [len(samples)]
    return [(a, b) for a, b in zip(starts, ends) if b > a]


def cycle_span(samples, cycle, interval):
    """Seconds a cycle covers: to the next cycle's first sample, or one
    interval past its own last sample when it is the last."""
    a, b = cycle
    end = samples[b]["t"] if b < len(samples) else samples[b - 1]["t"] + interval
    return end - samples[a]["t"]


def measured_cycles(samples, n_devices, interval):
    """The cycles after the warm-up that are judged: every whole one, and the
    last one if it was cut off after most of a cycle's length."""
    cycles = split_cycles(samples, n_devices)
    if len(cycles) <= WARM_UP_CYCLES:
        return []
    whole = cycles[WARM_UP_CYCLES:-1]
    out = list(whole)
    tail = cycles[-1]
    if whole:
        typical = statistics.median(cycle_span(samples, c, interval) for c in whole)
        if cycle_span(samples, tail, interval) >= TAIL_SHARE * typical:
            out.append(tail)
    return out


def figures(samples, cycle, key):
    """first, last, min, max and mean of one figure over one cycle."""
    values = [s[key] for s in samples[cycle[0]:cycle[1]]]
    return {"first": values[0], "last": values[-1], "min": min(values), "max": max(values),
            "mean": sum(values) / len(values)}


def compared_windows(count):
    """Indices of the earlier and the later window among count judged cycles:
    the last third against the third before it (one cycle each at least)."""
    width = max(1, count // 3)
    later = list(range(count - width, count))
    earlier = list(range(max(0, count - 2 * width), count - width))
    return earlier, later


def growth(maxima, limit):
    """Judges one figure from its per-cycle maxima.

    Returns (ok, earlier max, later max, bound); ok is None when there are too
    few cycles to compare.
    """
    if len(maxima) < 2:
        return None, None, None, None
    earlier, later = compared_windows(len(maxima))
    base = max(maxima[i] for i in earlier)
    last = max(maxima[i] for i in later)
    bound = limit.bound(base)
    return last <= bound, base, last, bound


def share_groups_bound(peak_sockets, group_size=64):
    """Most share threads that peak_sockets sockets open at once can have
    started: groups fill from the first, so ceil(peak / group size)."""
    return int(math.ceil(max(0, peak_sockets) / float(group_size)))
