"""A zel-report page opened in headless chromium: it raises no script error,
its charts are drawn at a visible size, and a screenshot is not blank.
Usage: report_browser_render_test.py PATH/TO/zel-report"""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_fixtures as fx  # noqa: E402

ZEL_REPORT = None
CHROMIUM = "/usr/bin/chromium"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--hide-scrollbars"]
# Put first in the page's head: records every error of the page and, once it
# has loaded, how many charts have lines and a width a reader would see.
PROBE = """<script>
var zelErrors = [];
window.addEventListener('error', function (e) { zelErrors.push(String(e.message)); }, true);
window.addEventListener('load', function () {
  var drawn = Array.prototype.filter.call(document.querySelectorAll('svg'), function (s) {
    return s.querySelector('path') && s.getBoundingClientRect().width > 400;
  }).length;
  document.body.setAttribute('data-drawn', drawn);
  document.body.setAttribute('data-errors', JSON.stringify(zelErrors));
});
</script>"""


class BrowserRender(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        out = os.path.join(cls.tmp.name, "report.html")
        res = fx.run_report(ZEL_REPORT, ["-o", out] + fx.write_shards(cls.tmp.name))
        if res.returncode != 0:
            raise AssertionError("zel-report failed: " + res.stderr)
        with open(out, encoding="utf-8") as f:
            page = f.read()
        cls.page = out
        cls.probed = os.path.join(cls.tmp.name, "probed.html")
        with open(cls.probed, "w", encoding="utf-8") as f:
            f.write(page.replace("<head>", "<head>" + PROBE, 1))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def chromium(self, *args):
        if not os.access(CHROMIUM, os.X_OK):
            self.fail(CHROMIUM + " is missing (scripts/install-deps.sh installs chromium)")
        profile = tempfile.mkdtemp(dir=self.tmp.name)
        return subprocess.run([CHROMIUM] + FLAGS + ["--user-data-dir=" + profile] + list(args),
                              capture_output=True, text=True, timeout=90)

    def test_page_loads_without_errors_and_draws_its_charts(self):
        res = self.chromium("--dump-dom", "file://" + self.probed)
        self.assertEqual(res.returncode, 0, res.stderr[-2000:])
        dom = res.stdout
        self.assertIn('data-errors="[]"', dom, res.stderr[-2000:])
        drawn = int(dom.split('data-drawn="', 1)[1].split('"', 1)[0])
        self.assertGreaterEqual(drawn, 6)

    def test_screenshot_is_not_blank(self):
        from matplotlib import image
        png = os.path.join(self.tmp.name, "shot.png")
        res = self.chromium("--window-size=1100,2400", "--screenshot=" + png, "file://" + self.page)
        self.assertTrue(os.path.exists(png), res.stderr[-2000:])
        pixels = image.imread(png)[:, :, :3]
        # Blue of the charts' lines and areas, and dark text, both present.
        blue = ((pixels[:, :, 2] > 0.5) & (pixels[:, :, 0] < 0.4)).mean()
        dark = (pixels.max(axis=2) < 0.3).mean()
        self.assertGreater(blue, 0.01)
        self.assertGreater(dark, 0.002)


if __name__ == "__main__":
    ZEL_REPORT = sys.argv.pop(1)
    unittest.main()
