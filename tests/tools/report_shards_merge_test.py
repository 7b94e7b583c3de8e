"""zel-report on two shards' files: the figures merge into the sums of both,
percentiles come from the merged buckets, and bad input is reported, not
fatal. Usage: report_shards_merge_test.py PATH/TO/zel-report"""
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_fixtures as fx  # noqa: E402

ZEL_REPORT = None


def visible(html):
    """The page without its data block."""
    return html.split('<script type="application/json"')[0]


class Page(unittest.TestCase):
    def assertShows(self, html, text):
        # A plain truth test: a failure names the text, not the whole page.
        self.assertTrue(text in visible(html), "page lacks: " + text)


class ShardsMerge(Page):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        paths = fx.write_shards(cls.tmp.name)
        cls.out = os.path.join(cls.tmp.name, "r.html")
        cls.res = fx.run_report(ZEL_REPORT, ["-o", cls.out] + paths)
        cls.data, cls.html = fx.report_data(cls.out) if cls.res.returncode == 0 else (None, "")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_writes_the_report(self):
        self.assertEqual(self.res.returncode, 0, self.res.stderr)
        self.assertIn(os.path.abspath(self.out), self.res.stdout)

    def test_login_histogram_is_the_sum_of_both_files(self):
        expected = {}
        for rows in fx.SHARDS:
            for r in rows:
                for low, n in r["login_buckets"].items():
                    expected[low] = expected.get(low, 0) + n
        self.assertEqual(self.data["login_buckets"], expected)
        self.assertEqual(self.data["summary"]["login"]["n"], sum(expected.values()))

    def test_online_bands_add_up_per_interval(self):
        s = self.data["series"]
        self.assertEqual(len(s["online"]), 2)
        self.assertEqual([a + b for a, b in zip(*s["online"])], fx.ONLINE_SUMS)
        self.assertEqual(self.data["devices"], 60)

    def test_interval_percentiles_come_from_merged_buckets(self):
        t = self.data["series"]["times"]["login"]
        self.assertEqual(t["n"][2], 100)
        self.assertAlmostEqual(t["p50"][2], 1.002)   # middle of the 1000..1003 us bucket
        self.assertAlmostEqual(t["p99"][2], 41.088)  # middle of the 40960..41215 us bucket

    def test_rates_recovery_and_failures_are_sums(self):
        s = self.data["series"]
        self.assertEqual(s["rates"]["gps"][2], 5.0)
        self.assertEqual(s["expected"]["gps"][2], 5.5)
        self.assertEqual(self.data["recovery_cumulative"][-1][1], 3)
        self.assertEqual(sum(s["failures"]["connection_lost"]), 3)
        self.assertEqual(self.data["failure_totals"]["connection_lost"], 3)

    def test_run_facts_phases_and_thresholds_are_shown(self):
        self.assertEqual(self.data["shards"], ["shard 0/2", "shard 1/2"])
        self.assertEqual([p[0] for p in self.data["phases"]], ["ramp", "steady"])
        self.assertShows(self.html, "zel-cli --shard 1/2 -e &#x27;add CAR 30&#x27;")
        self.assertShows(self.html, "failures&lt;=0")
        self.assertShows(self.html, '<td class="FAIL">FAIL</td>')
        self.assertGreaterEqual(self.html.count("<svg"), 6)

    def test_page_fetches_nothing(self):
        for needle in ("<link", " src=", "@import", "url(http"):
            self.assertFalse(needle in self.html, needle)


class BadInput(Page):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.out = os.path.join(self.tmp.name, "r.html")

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, text):
        path = os.path.join(self.tmp.name, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_no_usable_row_exits_2_and_writes_nothing(self):
        files = [os.path.join(self.tmp.name, "missing.jsonl"), self.write("empty.jsonl", ""),
                 self.write("junk.jsonl", "not json\n[1,2]\n{\"online\": 3}\n"),
                 self.tmp.name]
        res = fx.run_report(ZEL_REPORT, ["-o", self.out] + files)
        self.assertEqual(res.returncode, 2, res.stderr)
        self.assertFalse(os.path.exists(self.out))
        self.assertIn("missing.jsonl: cannot be read", res.stderr)
        self.assertIn("empty.jsonl: no usable row (empty file)", res.stderr)
        self.assertIn("no usable stats row", res.stderr)

    def test_unreadable_parts_are_skipped_and_named_in_the_report(self):
        # A bucket count too large for an integer, a time far from the others,
        # a phase name that looks like markup or a formula, a row without figures.
        good = fx.row(2, 10, {"100": 1}, phase="<b>$\\frac{$")
        lines = [json.dumps(good), "{truncated", json.dumps({"time": "yesterday"}),
                 json.dumps({"time": "1970-01-01T00:00:00Z"}),
                 '{"time": "%s", "online": 11, "login_buckets": {"200": 1e400, "x": 1, "300": 2}}'
                 % fx.stamp(4)]
        path = self.write("mixed.jsonl", "\n".join(lines) + "\n")
        res = fx.run_report(ZEL_REPORT, ["-o", self.out, path, path + ".gone"])
        self.assertEqual(res.returncode, 0, res.stderr)
        data, html = fx.report_data(self.out)
        self.assertEqual(data["login_buckets"], {"100": 1, "300": 2})
        for text in ("1 line(s) that are not a JSON object skipped",
                     "1 row(s) without a valid &quot;time&quot; skipped",
                     "lack devices or online", ".gone: cannot be read", "&lt;b&gt;$"):
            self.assertShows(html, text)
        self.assertFalse("<b>$" in visible(html))


if __name__ == "__main__":
    ZEL_REPORT = sys.argv.pop(1)
    unittest.main()
