#!/usr/bin/env python3
"""Checks that bench/soak's judgement tells growth from the swing of the
offline cycle: healthy runs pass, leaks of memory, descriptors, threads or
slots fail, and so do the end-of-run faults."""
import argparse
import os
import sys
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import soak_growth  # noqa: E402
from soak_growth import Limit  # noqa: E402


def load_soak():
    """bench/soak as a module (the script has no .py name to import by)."""
    path = os.path.join(HERE, "soak")
    module = types.ModuleType("soak_script")
    module.__file__ = path
    with open(path) as f:
        exec(compile(f.read(), path, "exec"), module.__dict__)
    return module


soak = load_soak()

N = 1000
INTERVAL = 5
CYCLE = 16            # samples per offline cycle (80 s)
OFFLINE = 3           # samples of each cycle with the fleet offline


def run_samples(cycles, rss=None, fds=None, threads=None, slots=None, online_last=N):
    """Samples of a run: the fleet online for most of each cycle, offline for
    OFFLINE samples at its end. Each figure is a function (cycle, index in the
    cycle, online) -> value; the defaults are a healthy process."""
    rss = rss or (lambda c, i, on: 60000 + (i % 3) * 300)
    fds = fds or (lambda c, i, on: 40 + (N if on else 0) + (i % 4))
    threads = threads or (lambda c, i, on: 20 + (i % 5))
    slots = slots or (lambda c, i, on: 18 + (i % 7))
    out = []
    for c in range(cycles):
        for i in range(CYCLE):
            online = 0 if i >= CYCLE - OFFLINE else (online_last if c == cycles - 1 else N)
            on = online > 0
            s = {"t": float((c * CYCLE + i) * INTERVAL), "online": online, "connecting": N - online,
                 "rss_kb": rss(c, i, on), "fds": fds(c, i, on), "threads": threads(c, i, on),
                 "slots": slots(c, i, on)}
            s["other_threads"] = s["threads"] - s["slots"]
            out.append(s)
    return out


def soak_args(**kw):
    values = {"devices": N, "interval": INTERVAL, "live": 20, "downloads": 10}
    values.update(kw)
    return argparse.Namespace(**values)


def report_of(samples, drain=None, base=None, exit_status=0):
    return {"samples": samples, "faults": [], "interval": INTERVAL,
            "base": base or {"fds": 5, "threads": 2, "rss_kb": 6000},
            "drain": drain or {"slots": 0, "fds": 21, "threads": 2, "rss_kb": 60000}, "exit": exit_status}


class CycleSplitTest(unittest.TestCase):
    def test_cycles_start_where_the_fleet_comes_back(self):
        samples = run_samples(4)
        cycles = soak_growth.split_cycles(samples, N)
        self.assertEqual([c[0] for c in cycles], [0, CYCLE, 2 * CYCLE, 3 * CYCLE])
        self.assertEqual(cycles[-1][1], len(samples))

    def test_a_fleet_that_never_drops_is_one_cycle(self):
        samples = [{"t": float(i), "online": N} for i in range(50)]
        self.assertEqual(soak_growth.split_cycles(samples, N), [(0, 50)])
        self.assertEqual(soak_growth.measured_cycles(samples, N, 1), [])

    def test_warm_up_is_left_out_and_a_short_tail_too(self):
        samples = run_samples(6)[: 5 * CYCLE + 4]  # five whole cycles and 4 samples of a sixth
        measured = soak_growth.measured_cycles(samples, N, INTERVAL)
        self.assertEqual([c[0] for c in measured], [2 * CYCLE, 3 * CYCLE, 4 * CYCLE])

    def test_a_tail_of_half_a_cycle_is_judged(self):
        samples = run_samples(4)[: 3 * CYCLE + CYCLE // 2]
        measured = soak_growth.measured_cycles(samples, N, INTERVAL)
        self.assertEqual([c[0] for c in measured], [2 * CYCLE, 3 * CYCLE])


    def test_windows_are_the_last_third_against_the_one_before(self):
        self.assertEqual(soak_growth.compared_windows(2), ([0], [1]))
        self.assertEqual(soak_growth.compared_windows(3), ([1], [2]))
        self.assertEqual(soak_growth.compared_windows(22), (list(range(8, 15)), list(range(15, 22))))


class GrowthTest(unittest.TestCase):
    def test_bound_takes_the_larger_of_share_and_slack(self):
        self.assertEqual(Limit(0.10, 2048).bound(10000), 12048)
        self.assertEqual(Limit(0.10, 2048).bound(100000), 110000)

    def test_level_maxima_pass_and_rising_ones_fail(self):
        limit = Limit(0.05, 4)
        self.assertTrue(soak_growth.growth([100, 103, 101, 104, 102, 100], limit)[0])
        ok, base, last, _ = soak_growth.growth([100, 110, 120, 130, 140, 150], limit)
        self.assertFalse(ok)
        self.assertEqual((base, last), (130, 150))

    def test_one_cycle_cannot_be_judged(self):
        self.assertIsNone(soak_growth.growth([100], Limit(0.1, 1))[0])

    def test_share_groups_of_64(self):
        self.assertEqual(soak_growth.share_groups_bound(0), 0)
        self.assertEqual(soak_growth.share_groups_bound(64), 1)
        self.assertEqual(soak_growth.share_groups_bound(1065), 17)


class JudgeTest(unittest.TestCase):
    def judge(self, samples, **kw):
        report = report_of(samples, **{k: v for k, v in kw.items() if k in ("drain", "base", "exit_status")})
        soak.judge(soak_args(), report)
        return report["faults"]

    def test_a_healthy_run_passes(self):
        self.assertEqual(self.judge(run_samples(8)), [])

    def test_memory_that_settles_after_the_warm_up_passes(self):
        rss = lambda c, i, on: 20000 + min(c * 16 + i, 20) * 2000  # rises, then stays
        self.assertEqual(self.judge(run_samples(8, rss=rss)), [])

    def test_memory_leak_of_4_kb_per_device_and_cycle_fails_in_half_an_hour(self):
        # 22 cycles of 80 s; 4 MB more with every reconnection of the fleet.
        rss = lambda c, i, on: 60000 + (c * CYCLE + i) * 256
        faults = self.judge(run_samples(22, rss=rss))
        self.assertEqual(len(faults), 1)
        self.assertIn("resident memory", faults[0])

    def test_sockets_never_closed_fail(self):
        # Each automatic offline leaves the old signalling sockets open.
        fds = lambda c, i, on: 40 + (N if on else 0) + c * N
        faults = self.judge(run_samples(4, fds=fds))
        self.assertTrue(any("open descriptors" in f for f in faults), faults)

    def test_a_thread_left_per_cycle_fails(self):
        threads = lambda c, i, on: 20 + (i % 5) + c
        faults = self.judge(run_samples(22, threads=threads))
        self.assertTrue(any(f.startswith("threads grows") for f in faults), faults)

    def test_slots_beyond_the_streams_asked_for_fail(self):
        slots = lambda c, i, on: 18 + (i % 7) + 3 * c
        faults = self.judge(run_samples(5, slots=slots))
        self.assertTrue(any("claimed slots reached" in f for f in faults), faults)

    def test_fleet_not_back_online_in_the_last_cycle_fails(self):
        faults = self.judge(run_samples(5, online_last=997))
        self.assertEqual(faults, ["only 997 of 1000 devices back online in the last cycle"])

    def test_a_run_ending_in_the_middle_of_the_logins_is_judged_on_the_cycle_before(self):
        samples = run_samples(5) + [{"t": 5.0 * 5 * CYCLE, "online": 600, "connecting": 400, "rss_kb": 60000,
                                     "fds": 640, "threads": 20, "other_threads": 2, "slots": 18}]
        self.assertEqual(self.judge(samples), [])

    def test_a_short_run_is_reported_as_such(self):
        # Two cycles of warm-up (the allocator's heaps still fill) leave one to judge.
        faults = self.judge(run_samples(3))
        self.assertTrue(faults and "judged cycle" in faults[0], faults)

    def test_leftovers_after_the_drain_fail(self):
        samples = run_samples(5)
        self.assertTrue(any("slots still claimed" in f for f in
                            self.judge(samples, drain={"slots": 1, "fds": 21, "threads": 2, "rss_kb": 1})))
        self.assertTrue(any("threads more" in f for f in
                            self.judge(samples, drain={"slots": 0, "fds": 21, "threads": 3, "rss_kb": 1})))
        # 17 share groups at most (1,065 descriptors at the peak), two descriptors
        # each: 34 may stay, 40 are too many.
        self.assertFalse(any("descriptors more" in f for f in
                             self.judge(samples, drain={"slots": 0, "fds": 39, "threads": 2, "rss_kb": 1})))
        self.assertTrue(any("descriptors more" in f for f in
                            self.judge(samples, drain={"slots": 0, "fds": 45, "threads": 2, "rss_kb": 1})))
        self.assertTrue(any("exit status" in f for f in self.judge(samples, exit_status=1)))


class SenderLinesTest(unittest.TestCase):
    def faults(self, drained=True, **counts):
        c = {"real_started": 40, "real_ended": 40, "download_started": 90, "download_ended": 90, "wait_failed": 0}
        c.update(counts)
        report = report_of([]) if drained else {"faults": []}
        soak.judge_senders(soak_args(), report, c)
        return report["faults"]

    def test_every_sender_ended(self):
        self.assertEqual(self.faults(), [])

    def test_a_sender_that_never_ended_fails(self):
        self.assertEqual(self.faults(real_ended=39), ["40 real senders began but 39 ended"])
        # Without the drain senders may still be running.
        self.assertEqual(self.faults(drained=False, real_ended=39), [])

    def test_a_soak_without_streams_fails(self):
        self.assertEqual(self.faults(download_started=0, download_ended=0),
                         ["no download sender ever began: the soak ran without those streams"])

    def test_wait_thread_exit_failed_fails(self):
        self.assertEqual(len(self.faults(wait_failed=1)), 1)


class PlanTest(unittest.TestCase):
    def test_rows_are_distinct_and_kinds_counted(self):
        plan = soak.plan_streams(1000, 20, 10)
        rows = [r for r, _ in plan]
        self.assertEqual(len(set(rows)), 30)
        self.assertTrue(all(0 <= r < 1000 for r in rows))
        self.assertEqual(sum(1 for _, k in plan if k == "live"), 20)
        self.assertEqual(sum(1 for _, k in plan if k == "download"), 10)

    def test_streams_spread_over_share_groups(self):
        # A download holds its share thread for a second; bunched in one group they would queue.
        plan = soak.plan_streams(1000, 20, 10)
        groups = [r // 64 for r, k in plan if k == "download"]
        self.assertEqual(len(groups), len(set(groups)))

    def test_small_fleets(self):
        self.assertEqual(soak.plan_streams(3, 2, 1), [(0, "live"), (1, "live"), (2, "download")])
        self.assertEqual(soak.plan_streams(10, 0, 0), [])


if __name__ == "__main__":
    unittest.main()
