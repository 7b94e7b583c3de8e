"""The queries of a Grafana dashboard, taken out of its JSON and run against a
Prometheus server's HTTP API.

Grafana is not needed: its variables are replaced the way it would replace
them with "All" selected ($job and $instance become the regex .*), and
$__rate_interval, $__interval and $__range get fixed windows. Each panel
query is then run as a range query over a time span, so that a query counts
as having data when the panel would have drawn something in that span.

Used by check_dashboard.py (any Prometheus URL), bench/shards (after its run)
and scripts/check-manifests.py (the structure checks only).
"""

import json
import re
import urllib.error
import urllib.parse
import urllib.request

# The variables a ZEL dashboard must have, and their types.
REQUIRED_VARIABLES = {"datasource": "datasource", "job": "query", "instance": "query"}
PANEL_TYPES = {"timeseries", "stat", "table", "state-timeline"}
SCHEMA_VERSIONS = {38, 39}
METRIC_TOKEN = re.compile(r"\bzel_[a-z0-9_]*[a-z0-9]\b(?![(|])")
NAME_REGEX = re.compile(r'__name__\s*=~\s*"([^"]*)"')


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def panels(dashboard):
    """Every panel, those inside collapsed rows too; rows themselves are left out."""
    out = []
    for p in dashboard.get("panels") or []:
        if p.get("type") == "row":
            out += [q for q in p.get("panels") or [] if q.get("type") != "row"]
        else:
            out.append(p)
    return out


def queries(dashboard):
    """(panel title, refId, legend, expr) of every panel target, in dashboard order."""
    out = []
    for p in panels(dashboard):
        for t in p.get("targets") or []:
            out.append((p.get("title", "?"), t.get("refId", "?"), t.get("legendFormat", ""), t.get("expr")))
    return out


def variables(dashboard):
    return {v.get("name"): v for v in (dashboard.get("templating") or {}).get("list") or []}


def variable_query(var):
    q = var.get("query")
    return q.get("query") if isinstance(q, dict) else q


def structure_problems(dashboard):
    """What keeps the dashboard from working as the ZEL dashboard: empty when sound."""
    problems = []
    if dashboard.get("schemaVersion") not in SCHEMA_VERSIONS:
        problems.append(f"schemaVersion {dashboard.get('schemaVersion')} is not one of {sorted(SCHEMA_VERSIONS)}")
    vs = variables(dashboard)
    for name, kind in REQUIRED_VARIABLES.items():
        v = vs.get(name)
        if v is None or v.get("type") != kind:
            problems.append(f"variable {name} of type {kind} missing")
            continue
        if kind == "datasource" and v.get("query") != "prometheus":
            problems.append(f"variable {name} does not list Prometheus data sources")
        if kind == "query":
            if not re.match(r"^label_values\(.+,\s*" + name + r"\)$", variable_query(v) or ""):
                problems.append(f"variable {name}: query is not label_values(..., {name})")
            if not (v.get("multi") and v.get("includeAll")):
                problems.append(f"variable {name} is not multi-select with All")
    ids = set()
    found = panels(dashboard)
    if not found:
        problems.append("no panels")
    for p in found:
        title = p.get("title", "?")
        if p.get("type") not in PANEL_TYPES:
            problems.append(f"panel {title!r}: type {p.get('type')} is not one of {sorted(PANEL_TYPES)}")
        if p.get("id") in ids:
            problems.append(f"panel {title!r}: id {p.get('id')} used twice")
        ids.add(p.get("id"))
        if not all(isinstance((p.get("gridPos") or {}).get(k), int) for k in ("h", "w", "x", "y")):
            problems.append(f"panel {title!r}: no gridPos")
        targets = p.get("targets") or []
        if not targets:
            problems.append(f"panel {title!r}: no target")
        for t in targets:
            expr = t.get("expr") or ""
            what = f"panel {title!r} query {t.get('refId')}"
            if not expr.strip():
                problems.append(f"{what}: no expr")
                continue
            # Every selector of a ZEL metric filters by both variables.
            for sel in re.findall(r"\{([^{}]*)\}", expr):
                if "zel_" in expr and not ('job=~"$job"' in sel and 'instance=~"$instance"' in sel):
                    problems.append(f"{what}: selector {{{sel}}} does not filter by $job and $instance")
            if not re.search(r"\$\{?datasource\}?", json.dumps(t.get("datasource") or p.get("datasource") or {})):
                problems.append(f"{what}: data source is not the $datasource variable")
    return problems


def substitute(expr, rate_interval="1m", interval="15s", range_="1h"):
    """The expression as Prometheus gets it from Grafana with "All" selected."""
    expr = expr.replace("$__rate_interval", rate_interval).replace("${__rate_interval}", rate_interval)
    expr = expr.replace("$__interval", interval).replace("${__interval}", interval)
    expr = expr.replace("$__range", range_).replace("${__range}", range_)
    return re.sub(r"\$\{?(job|instance)\}?", ".*", expr)


def metric_names(expr):
    """The zel_* metric names an expression reads, as Prometheus stores them."""
    names = set(METRIC_TOKEN.findall(NAME_REGEX.sub("", expr)))
    for regex in NAME_REGEX.findall(expr):
        m = re.match(r"^(zel_[a-z0-9_]*)\((.*)\)(_total)?$", regex)
        if m:
            names |= {m.group(1) + alt + (m.group(3) or "") for alt in m.group(2).split("|")}
    return sorted(names)


class Prometheus:
    def __init__(self, url, timeout=20):
        self.url = url.rstrip("/")
        self.timeout = timeout

    def get(self, path, params):
        """(data, None) or (None, error text); an HTTP error's JSON body gives the text."""
        url = f"{self.url}{path}?{urllib.parse.urlencode(params, doseq=True)}"
        try:
            with urllib.request.urlopen(url, timeout=self.timeout) as r:
                body = json.load(r)
        except urllib.error.HTTPError as e:
            try:
                body = json.load(e)
            except ValueError:
                return None, f"HTTP {e.code}"
        except (OSError, ValueError) as e:
            return None, str(e)
        if body.get("status") != "success":
            return None, f"{body.get('errorType', 'error')}: {body.get('error', '?')}"
        return body.get("data"), None

    def series_exist(self, name, start, end):
        data, err = self.get("/api/v1/series", {"match[]": '{__name__="%s"}' % name, "start": start, "end": end})
        return bool(data) if err is None else None


def has_value(series):
    values = series.get("values") or ([series["value"]] if "value" in series else [])
    return any(v[1] not in ("NaN", "+Inf", "-Inf") for v in values)


def check(prom, dashboard, start, end, step=15, rate_interval="1m", expect_empty=None):
    """Runs every panel query over [start, end]; one dict per query with
    status "data", "empty" (no series), "nan" (series without a number: a
    quantile of no events) or "error", the metrics it reads that have no
    series at all, and expect_empty's reason when one of its metrics is
    named there ({metric or histogram name: why it has nothing in this run})."""
    expect_empty = expect_empty or {}
    results, known = [], {}
    for title, ref, legend, expr in queries(dashboard):
        q = substitute(expr or "", rate_interval=rate_interval, interval="%ds" % step,
                       range_="%ds" % max(1, int(end - start)))
        data, err = prom.get("/api/v1/query_range", {"query": q, "start": start, "end": end, "step": step})
        r = {"panel": title, "ref": ref, "legend": legend, "expr": q}
        if err is not None:
            r["status"], r["error"] = "error", err
        else:
            result = data.get("result") or []
            r["status"] = "data" if any(has_value(s) for s in result) else ("nan" if result else "empty")
        if r["status"] in ("empty", "nan"):
            names = metric_names(q)
            for n in names:
                if n not in known:
                    known[n] = prom.series_exist(n, start, end)
            r["absent"] = [n for n in names if known[n] is False]
            reasons = [why for n in names for m, why in expect_empty.items() if n == m or n.startswith(m + "_")]
            if reasons:
                r["expected"] = reasons[0]
        results.append(r)
    return results


def check_variables(prom, dashboard, start, end):
    """(name, values or None, error) of each label_values variable, "All" in those it refers to."""
    out = []
    for name, v in variables(dashboard).items():
        m = re.match(r"^label_values\((.+),\s*(\w+)\)$", (variable_query(v) or "").strip()) \
            if v.get("type") == "query" else None
        if not m:
            continue
        data, err = prom.get("/api/v1/label/%s/values" % m.group(2),
                             {"match[]": substitute(m.group(1)), "start": start, "end": end})
        out.append((name, data, err))
    return out


def describe(r):
    """One line for a query that returned no data."""
    head = f"{r['panel']} / {r['legend'] or r['ref']}"
    if r["status"] == "error":
        return f"failed (error): {head}: {r['error']}"
    what = "empty" if r["status"] == "empty" else "no number (NaN: no events in the window)"
    tail = ""
    if r.get("absent"):
        tail = "; no series of " + ", ".join(r["absent"])
    if r.get("expected"):
        return f"expected {what} ({r['expected']}): {head}{tail}"
    return f"{what}: {head}{tail}"


def summary(results):
    """The report's lines: the count, then each query without data."""
    good = sum(1 for r in results if r["status"] == "data")
    lines = [f"dashboard queries: {good} of {len(results)} returned data"]
    order = {"error": 0, "empty": 1, "nan": 1}
    for r in sorted((r for r in results if r["status"] != "data"),
                    key=lambda r: (order[r["status"]], "expected" in r)):
        lines.append("  " + describe(r))
    return lines


def configmap_text(dashboard_text, name="zel-grafana-dashboard"):
    """The ConfigMap Grafana's dashboard sidecar loads, holding the JSON as it is."""
    body = "".join("    " + line if line.strip() else "\n" for line in dashboard_text.splitlines(True))
    return (
        "# Generated from deploy/grafana/zel-fleet.json by\n"
        "#   python3 deploy/grafana/check_dashboard.py --write-configmap deploy/kubernetes/grafana-dashboard.yaml\n"
        "# (scripts/check-manifests.py fails when the two differ). Grafana's dashboard\n"
        "# sidecar loads every ConfigMap labelled grafana_dashboard: \"1\" in the\n"
        "# namespaces it watches.\n"
        "apiVersion: v1\n"
        "kind: ConfigMap\n"
        "metadata:\n"
        f"  name: {name}\n"
        "  labels:\n"
        "    app.kubernetes.io/part-of: zel\n"
        "    grafana_dashboard: \"1\"\n"
        "data:\n"
        "  zel-fleet.json: |\n" + body)
