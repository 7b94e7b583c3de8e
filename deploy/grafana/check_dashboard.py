#!/usr/bin/env python3
"""Runs every panel query of a Grafana dashboard against a Prometheus server
and says which returned data, which were empty and which failed.

    python3 deploy/grafana/check_dashboard.py --prometheus http://127.0.0.1:9090 deploy/grafana/zel-fleet.json
        [--minutes 30] [--rate-interval 1m] [--step 15] [--expect-empty METRIC=WHY ...]
    python3 deploy/grafana/check_dashboard.py --write-configmap deploy/kubernetes/grafana-dashboard.yaml

Each query runs as Grafana would run it with "All" selected for $job and
$instance, as a range query over the last --minutes. A query counts as data
when any of its series has a number; "NaN" is a quantile of a histogram that
counted nothing in the window. --expect-empty marks the queries reading a
metric that has nothing to show in this run (no stream ran ...) as expected
empty: they are still listed.

Exit status: 0 when every query returned data or was expected empty, 1 when
one failed or was empty unexpectedly, 2 when the dashboard does not load.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dashboard_queries as dq  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_DASHBOARD = os.path.join(ROOT, "deploy", "grafana", "zel-fleet.json")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("dashboard", nargs="?", default=DEFAULT_DASHBOARD)
    ap.add_argument("--prometheus", help="Prometheus base URL, e.g. http://127.0.0.1:9090")
    ap.add_argument("--minutes", type=float, default=30, help="the time span the queries cover, ending now")
    ap.add_argument("--rate-interval", default="1m", help="what $__rate_interval stands for")
    ap.add_argument("--step", type=int, default=15, help="range query step in seconds (and $__interval)")
    ap.add_argument("--expect-empty", action="append", default=[], metavar="METRIC=WHY")
    ap.add_argument("--write-configmap", metavar="PATH", help="write the dashboard as a ConfigMap for "
                    "Grafana's dashboard sidecar and exit")
    args = ap.parse_args()
    try:
        with open(args.dashboard, encoding="utf-8") as f:
            text = f.read()
        dashboard = dq.json.loads(text)
    except (OSError, ValueError) as e:
        print(f"check_dashboard: {args.dashboard}: {e}", file=sys.stderr)
        return 2
    if args.write_configmap:
        with open(args.write_configmap, "w", encoding="utf-8") as f:
            f.write(dq.configmap_text(text))
        print(f"wrote {args.write_configmap}")
        return 0
    if not args.prometheus:
        ap.error("--prometheus URL is needed (or --write-configmap)")
    problems = dq.structure_problems(dashboard)
    for p in problems:
        print(f"structure: {p}")
    expect = dict(e.split("=", 1) if "=" in e else (e, "expected empty") for e in args.expect_empty)
    prom = dq.Prometheus(args.prometheus)
    end = time.time()
    start = end - args.minutes * 60
    for name, values, err in dq.check_variables(prom, dashboard, start, end):
        print(f"variable {name}: " + (f"failed (error): {err}" if err else
                                      f"{len(values)} values: {', '.join(values) or '(none)'}"))
    results = dq.check(prom, dashboard, start, end, step=args.step, rate_interval=args.rate_interval,
                       expect_empty=expect)
    for line in dq.summary(results):
        print(line)
    bad = [r for r in results if r["status"] == "error" or (r["status"] != "data" and "expected" not in r)]
    return 1 if bad or problems else 0


if __name__ == "__main__":
    sys.exit(main())
