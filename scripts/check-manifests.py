#!/usr/bin/env python3
"""Checks the Kubernetes manifests in deploy/kubernetes against each other and
against the executables they run.

    python3 scripts/check-manifests.py [--bin build/bin] [--dir deploy/kubernetes]

Every YAML document must parse. Then, per kind:
  Job         Indexed, completions == parallelism, restartPolicy Never,
              backoffLimit set (at least completions when failures count per
              index), podFailurePolicy naming its container; runs zel-cli with
              options its --help lists, --shard INDEX/N with N == completions
              and INDEX the pod's completion index, -e commands zel-cli knows,
              `set HOST:PORT` naming the zel-server Service's port that reaches
              zel-server, the same image as the zel-server Deployment, --dir
              and --stats-file on a mounted volume when the root filesystem is
              read-only, a deadline longer than --duration.
  Deployment  selector matches the pod labels, zel-server with options its
              --help lists, listening on all interfaces, its ports declared,
              one replica.
  Service     selector matches the pods of exactly one workload, each
              targetPort is one of their container ports.
  PodMonitor  selects the fleet's pods, the endpoint's port exists on every
              pod it selects.
  ConfigMap   a prometheus.yml in it has a pod-role job whose relabelling
              keeps the annotated zel pods and uses the annotations (and
              promtool, when installed, accepts the file); a Grafana
              dashboard in it (key *.json) carries the label
              grafana_dashboard: "1", is deploy/grafana/zel-fleet.json and
              fits kubectl apply's annotation limit.
The dashboard itself (--dashboard): parses, schemaVersion 38/39, the
datasource, job and instance variables, every panel a known type with a
gridPos and targets whose expr filters by $job and $instance (and promtool,
when installed, parses every expr with Grafana's variables replaced).
Pod templates with prometheus.io/* annotations: the port is a --metrics port
served on all interfaces and declared as a container port, the path /metrics.
Every $(VAR) in a command line is a variable the container has. The user the
pods run as is the one the Dockerfile's USER names.

Prints each check; exits 1 on any failure, 2 when it cannot run at all.
"""

import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "deploy", "grafana"))
import dashboard_queries  # noqa: E402

# kubectl apply keeps the whole object in an annotation, which may not pass
# 256 KiB: a larger dashboard ConfigMap is refused by apply (not by create).
APPLY_ANNOTATION_LIMIT = 262144
COMPLETION_INDEX_FIELD = "metadata.annotations['batch.kubernetes.io/job-completion-index']"
# The variable the Job controller itself gives every container of an Indexed Job.
BUILTIN_INDEX_VAR = "JOB_COMPLETION_INDEX"
# The only path zel-cli's and zel-server's metrics server answers.
METRICS_PATH = "/metrics"
# Time a pod needs beyond --duration to be scheduled, pull the image and stop.
DEADLINE_MARGIN_SEC = 60


def die(message):
    print(message, file=sys.stderr)
    sys.exit(2)


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def ok(self, cond, what, why=""):
        if cond:
            self.passed += 1
            print(f"  ok    {what}")
        else:
            self.failed.append(f"{what}: {why}" if why else what)
            print(f"  FAIL  {what}" + (f": {why}" if why else ""))
        return cond

    def section(self, title):
        print(f"\n{title}")


# ---------------------------------------------------------------- executables

def run_help(path):
    try:
        res = subprocess.run([path, "--help"], capture_output=True, text=True, timeout=20)
    except OSError as e:
        die(f"check-manifests: cannot run {path}: {e}")
    if res.returncode != 0:
        die(f"check-manifests: {path} --help exited {res.returncode}: {res.stderr.strip()}")
    return res.stdout


def parse_help_options(text):
    """{'--name': takes_value} for every option line of a CLI11 --help."""
    options = {}
    in_options = False
    for line in text.splitlines():
        if line.startswith("Options:"):
            in_options = True
            continue
        if in_options and line and not line.startswith(" "):
            break
        if not in_options:
            continue
        column = re.split(r"\s{2,}", line.strip())[0]
        if not column.startswith("-"):
            continue  # a description's continuation line
        words = column.split()
        # "--listen IP:PORT", "--shard I/N", "-e COMMAND ...": a value's name
        # follows the option's; the description starts after two spaces.
        takes_value = len(words) > 1
        for name in words[0].split(","):
            options[name] = takes_value
    return options


def parse_help_commands(text):
    """First words of the console commands zel-cli's --help lists."""
    commands = set()
    in_commands = False
    for line in text.splitlines():
        if line.startswith("Commands"):
            in_commands = True
            continue
        if in_commands:
            m = re.match(r"^  ([a-z]+)\b", line)
            if not m:
                break
            commands.add(m.group(1))
    return commands


class Tool:
    def __init__(self, name, path):
        self.name = name
        self.help = run_help(path)
        self.options = parse_help_options(self.help)
        self.commands = parse_help_commands(self.help)
        if not self.options:
            die(f"check-manifests: found no options in {path} --help")


def split_args(argv, tool, check, where):
    """Walks a command line: {'--opt': [values...]}; unknown options fail."""
    found = {}
    i = 0
    while i < len(argv):
        arg = str(argv[i])
        i += 1
        if not arg.startswith("-"):
            check.ok(False, f"{where}: argument {arg!r}", f"{tool.name} takes no positional arguments")
            continue
        name, eq, inline = arg.partition("=")
        known = name in tool.options
        check.ok(known, f"{where}: {name} is an option of {tool.name}",
                 f"not in `{tool.name} --help`")
        takes_value = tool.options[name] if known else (i < len(argv) and not str(argv[i]).startswith("-"))
        value = None
        if eq:
            value = inline
        elif takes_value and i < len(argv):
            value = str(argv[i])
            i += 1
        found.setdefault(name, []).append(value)
    return found


def host_port(text):
    """('host', port) from HOST:PORT or PORT alone (host None)."""
    host, sep, port = str(text).rpartition(":")
    if not port.isdigit():
        return None, None
    return (host if sep else None), int(port)


# ---------------------------------------------------------------- manifests

def load_manifests(directory, check):
    docs = []
    files = sorted(glob.glob(os.path.join(directory, "*.yaml")))
    if not files:
        die(f"check-manifests: no *.yaml in {directory}")
    check.section(f"parse {directory}")
    for path in files:
        rel = os.path.relpath(path, ROOT) if path.startswith(ROOT + os.sep) else path
        try:
            with open(path, encoding="utf-8") as f:
                loaded = [d for d in yaml.safe_load_all(f) if d is not None]
        except yaml.YAMLError as e:
            check.ok(False, f"{rel} parses", str(e).replace("\n", " "))
            continue
        check.ok(bool(loaded), f"{rel} parses ({len(loaded)} documents)", "no document")
        for d in loaded:
            name = (d.get("metadata") or {}).get("name") if isinstance(d, dict) else None
            good = isinstance(d, dict) and d.get("apiVersion") and d.get("kind") and name
            if check.ok(bool(good), f"{rel}: {d.get('kind') if isinstance(d, dict) else '?'} {name} "
                        "has apiVersion, kind, metadata.name", "missing"):
                d["_file"] = rel
                docs.append(d)
    return docs


def pod_templates(docs):
    """(owner doc, pod template) for every workload."""
    out = []
    for d in docs:
        if d["kind"] in ("Deployment", "Job", "StatefulSet", "DaemonSet", "ReplicaSet"):
            out.append((d, body_of(d).get("template") or {}))
    return out


def body_of(obj):
    """The state an object asks for, the mapping Kubernetes keeps its fields in."""
    return obj.get("spec") or {}


def labels_of(template):
    return ((template.get("metadata") or {}).get("labels")) or {}


def selects(match_labels, labels):
    return bool(match_labels) and all(labels.get(k) == v for k, v in match_labels.items())


def containers_of(template):
    return (body_of(template).get("containers")) or []


def container_ports(template):
    ports = []
    for c in containers_of(template):
        ports.extend(c.get("ports") or [])
    return ports


def resolve_port(ports, ref):
    """The container port a name or number refers to, or None."""
    for p in ports:
        if isinstance(ref, int) and p.get("containerPort") == ref:
            return p
        if isinstance(ref, str) and p.get("name") == ref:
            return p
    return None


def dockerfile_user(path):
    if not os.path.exists(path):
        return None
    user = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\s*USER\s+(\S+)", line)
            if m:
                user = m.group(1)
    return user


# ---------------------------------------------------------------- checks

def check_command_line(owner, template, container, tools, check):
    """Common to every container: known executable, options, $(VAR), metrics."""
    where = f"{owner['_file']}: {owner['kind']} {owner['metadata']['name']} container {container.get('name')}"
    command = [str(x) for x in (container.get("command") or [])]
    args = [str(x) for x in (container.get("args") or [])]
    argv = command + args
    if not check.ok(bool(argv), f"{where}: has a command", "no command or args; the image's CMD is not checked"):
        return None, {}
    exe = os.path.basename(argv[0])
    if not check.ok(exe in tools, f"{where}: runs {exe}", f"expected one of {sorted(tools)}"):
        return None, {}
    tool = tools[exe]
    found = split_args(argv[1:], tool, check, where)

    env_names = {e.get("name") for e in (container.get("env") or [])}
    if owner["kind"] == "Job" and body_of(owner).get("completionMode") == "Indexed":
        env_names.add(BUILTIN_INDEX_VAR)
    for text in argv:
        for var in re.findall(r"(?<!\$)\$\(([A-Za-z_][A-Za-z0-9_]*)\)", text):
            check.ok(var in env_names, f"{where}: $({var}) is a variable of the container",
                     "Kubernetes leaves an unknown $(VAR) as it is")

    for value in found.get("--metrics", []):
        host, port = host_port(value)
        check.ok(port is not None, f"{where}: --metrics {value} is HOST:PORT", "no port")
        check.ok(host not in (None, "", "127.0.0.1", "localhost", "::1"),
                 f"{where}: --metrics {value} serves other pods",
                 "a loopback address (or a port alone, which means 127.0.0.1) is out of Prometheus' reach")
        if port is not None:
            check.ok(resolve_port(container.get("ports") or [], port) is not None,
                     f"{where}: metrics port {port} is a container port", "not declared")
    return tool, found


def check_annotations(owner, template, metrics_ports, check):
    where = f"{owner['_file']}: {owner['kind']} {owner['metadata']['name']} pod template"
    ann = ((template.get("metadata") or {}).get("annotations")) or {}
    if not metrics_ports:
        check.ok("prometheus.io/scrape" not in ann, f"{where}: no scrape annotation without --metrics",
                 "prometheus.io/scrape set but no container serves metrics")
        return
    check.ok(ann.get("prometheus.io/scrape") == "true", f"{where}: prometheus.io/scrape is \"true\"",
             f"is {ann.get('prometheus.io/scrape')!r}; the metrics would not be scraped")
    port = ann.get("prometheus.io/port")
    check.ok(isinstance(port, str) and port.isdigit() and int(port) in metrics_ports,
             f"{where}: prometheus.io/port {port!r} is a --metrics port", f"--metrics ports: {sorted(metrics_ports)}")
    check.ok(ann.get("prometheus.io/path", METRICS_PATH) == METRICS_PATH,
             f"{where}: prometheus.io/path is {METRICS_PATH}", f"is {ann.get('prometheus.io/path')!r}")


def check_security(owner, template, uid, check):
    where = f"{owner['_file']}: {owner['kind']} {owner['metadata']['name']}"
    pod_sc = (body_of(template).get("securityContext")) or {}
    for c in containers_of(template):
        sc = dict(pod_sc)
        sc.update(c.get("securityContext") or {})
        check.ok(sc.get("runAsNonRoot") is True, f"{where} container {c.get('name')}: runAsNonRoot", "not set")
        if uid is not None:
            check.ok(str(sc.get("runAsUser")) == uid.split(":")[0],
                     f"{where} container {c.get('name')}: runAsUser is the image's user {uid}",
                     f"is {sc.get('runAsUser')}")


def mounted(container, path):
    for m in container.get("volumeMounts") or []:
        mp = m.get("mountPath", "").rstrip("/")
        if (path == mp or path.startswith(mp + "/")) and not m.get("readOnly"):
            return True
    return False


def check_deployment(d, tools, uid, check):
    name = d["metadata"]["name"]
    check.section(f"Deployment {name} ({d['_file']})")
    body = body_of(d)
    template = body.get("template") or {}
    match = (body.get("selector") or {}).get("matchLabels") or {}
    check.ok(selects(match, labels_of(template)), f"selector {match} matches the pod labels {labels_of(template)}")
    result = {"listen": None, "metrics": set(), "image": None}
    for c in containers_of(template):
        tool, found = check_command_line(d, template, c, tools, check)
        result["image"] = c.get("image")
        if tool is None:
            continue
        result["metrics"] |= {host_port(v)[1] for v in found.get("--metrics", []) if host_port(v)[1]}
        if tool.name == "zel-server":
            check.ok(body.get("replicas", 1) == 1, "one replica",
                     f"{body.get('replicas')}: every device must reach the same server")
            listen = (found.get("--listen") or [None])[-1]
            host, port = host_port(listen) if listen else (None, None)
            check.ok(listen is not None and host in ("0.0.0.0", "::", ""),
                     f"--listen {listen} accepts connections from other pods",
                     "zel-server listens on 127.0.0.1:5556 unless told otherwise")
            if port is not None:
                check.ok(resolve_port(c.get("ports") or [], port) is not None,
                         f"listen port {port} is a container port", "not declared")
                result["listen"] = port
        probe = c.get("readinessProbe") or {}
        for kind in ("httpGet", "tcpSocket"):
            if kind in probe:
                ref = probe[kind].get("port")
                cp = resolve_port(c.get("ports") or [], ref)
                check.ok(cp is not None, f"readinessProbe port {ref!r} is a container port", "not declared")
                if kind == "httpGet" and cp is not None:
                    check.ok(cp.get("containerPort") in result["metrics"],
                             f"readinessProbe httpGet goes to the metrics port",
                             "the only HTTP zel-server serves is --metrics")
                    check.ok(probe[kind].get("path") == METRICS_PATH,
                             f"readinessProbe path {probe[kind].get('path')!r} is one the metrics server answers",
                             f"it answers only {METRICS_PATH}")
    check_annotations(d, template, result["metrics"], check)
    check_security(d, template, uid, check)
    return result


def check_service(s, workloads, check):
    name = s["metadata"]["name"]
    check.section(f"Service {name} ({s['_file']})")
    body = body_of(s)
    selector = body.get("selector") or {}
    matched = [(o, t) for o, t in workloads if selects(selector, labels_of(t))]
    if not check.ok(len(matched) == 1, f"selector {selector} matches the pods of one workload",
                    f"matches {[o['metadata']['name'] for o, _ in matched] or 'none'}"):
        return
    owner, template = matched[0]
    print(f"        (the pods of {owner['kind']} {owner['metadata']['name']})")
    ports = container_ports(template)
    for p in body.get("ports") or []:
        target = p.get("targetPort", p.get("port"))
        cp = resolve_port(ports, target)
        if check.ok(cp is not None, f"port {p.get('name')} {p.get('port')} -> targetPort {target!r} is a container port",
                    f"container ports: {[(q.get('name'), q.get('containerPort')) for q in ports]}"):
            check.ok(p.get("protocol", "TCP") == cp.get("protocol", "TCP"),
                     f"port {p.get('name')} protocol {p.get('protocol', 'TCP')}", "differs from the container port's")


def service_target(services, workloads, host, port):
    """The container port number `host:port` reaches through a Service, or None."""
    short = host.split(".")[0]
    for s in services:
        if s["metadata"]["name"] != short:
            continue
        body = body_of(s)
        for p in body.get("ports") or []:
            if p.get("port") != port:
                continue
            for _, t in workloads:
                if selects(body.get("selector") or {}, labels_of(t)):
                    cp = resolve_port(container_ports(t), p.get("targetPort", p.get("port")))
                    if cp:
                        return s, cp.get("containerPort")
        return s, None
    return None, None


def check_job(j, tools, uid, server, services, workloads, check):
    name = j["metadata"]["name"]
    check.section(f"Job {name} ({j['_file']})")
    body = body_of(j)
    template = body.get("template") or {}
    pod = body_of(template)
    completions = body.get("completions")
    check.ok(body.get("completionMode") == "Indexed", "completionMode Indexed", f"is {body.get('completionMode')!r}")
    check.ok(isinstance(completions, int) and completions >= 1, f"completions {completions}", "not a positive number")
    check.ok(body.get("parallelism") == completions, f"parallelism {body.get('parallelism')} == completions {completions}",
             "every shard must run at the same time for the fleet to be whole")
    check.ok(pod.get("restartPolicy") == "Never", "restartPolicy Never", f"is {pod.get('restartPolicy')!r}")
    limit = body.get("backoffLimit")
    check.ok(isinstance(limit, int), f"backoffLimit {limit}", "not set")
    if body.get("backoffLimitPerIndex") is not None and isinstance(limit, int) and isinstance(completions, int):
        check.ok(limit >= completions, f"backoffLimit {limit} >= completions {completions}",
                 "once more pods failed than that, the Job stops the shards still running")
    names = {c.get("name") for c in containers_of(template)}
    for rule in ((body.get("podFailurePolicy") or {}).get("rules")) or []:
        cname = (rule.get("onExitCodes") or {}).get("containerName")
        if cname is not None:
            check.ok(cname in names, f"podFailurePolicy names container {cname}", f"containers: {sorted(names)}")

    metrics = set()
    for c in containers_of(template):
        tool, found = check_command_line(j, template, c, tools, check)
        if tool is None:
            continue
        metrics |= {host_port(v)[1] for v in found.get("--metrics", []) if host_port(v)[1]}
        check.ok(tool.name == "zel-cli", f"container {c.get('name')} runs zel-cli", f"runs {tool.name}")
        if server is not None:
            check.ok(c.get("image") == server["image"], f"image {c.get('image')} is the zel-server Deployment's",
                     f"the Deployment runs {server['image']}")

        shard = (found.get("--shard") or [None])[-1]
        if check.ok(shard is not None, "--shard is given", "without it every pod adds the same device IDs"):
            m = re.fullmatch(r"(.+)/(\d+)", shard)
            if check.ok(m is not None, f"--shard {shard} is INDEX/N", "malformed"):
                index, n = m.group(1), int(m.group(2))
                check.ok(n == completions, f"--shard N {n} == completions {completions}",
                         "the shards would not cover the fleet exactly once")
                var = re.fullmatch(r"\$\(([A-Za-z_][A-Za-z0-9_]*)\)", index)
                source = None
                if var:
                    for e in c.get("env") or []:
                        if e.get("name") == var.group(1):
                            source = (((e.get("valueFrom") or {}).get("fieldRef")) or {}).get("fieldPath")
                    if source is None and var.group(1) == BUILTIN_INDEX_VAR:
                        source = COMPLETION_INDEX_FIELD
                check.ok(source == COMPLETION_INDEX_FIELD, f"--shard INDEX {index} is the pod's completion index",
                         "it must come from the batch.kubernetes.io/job-completion-index annotation")

        read_only = ((c.get("securityContext") or {}).get("readOnlyRootFilesystem")) is True
        directory = (found.get("--dir") or [None])[-1]
        check.ok(directory is not None, f"--dir {directory}",
                 "without it zel-cli writes beside its executable, which the image does not let it")
        for opt in ("--dir", "--stats-file", "--log"):
            for value in found.get(opt, []):
                if value and read_only:
                    check.ok(mounted(c, value), f"{opt} {value} is on a writable volume",
                             "the root filesystem is read-only")

        duration = (found.get("--duration") or [None])[-1]
        if check.ok(duration is not None and duration.isdigit(), f"--duration {duration}",
                    "a shard without one runs until the Job's deadline kills it, with no summary"):
            deadline = body.get("activeDeadlineSeconds")
            if deadline is not None:
                check.ok(deadline > int(duration) + DEADLINE_MARGIN_SEC,
                         f"activeDeadlineSeconds {deadline} > --duration {duration} + {DEADLINE_MARGIN_SEC}",
                         "the deadline would stop the shards before their run is over")

        for command in found.get("-e", []):
            words = (command or "").split()
            if not check.ok(bool(words) and words[0] in tool.commands, f"-e {command!r} is a zel-cli command",
                            f"commands: {sorted(tool.commands)}"):
                continue
            if words[0] == "set":
                host, port = host_port(words[1]) if len(words) > 1 else (None, None)
                if not check.ok(host and port, f"set {words[1:]} is HOST:PORT", "malformed"):
                    continue
                svc, target = service_target(services, workloads, host, port)
                if check.ok(svc is not None, f"set {host}:{port}: {host} is a Service here", "no such Service"):
                    check.ok(server is not None and target is not None and target == server["listen"],
                             f"set {host}:{port} reaches zel-server's --listen port",
                             f"the Service sends port {port} to {target}, zel-server listens on "
                             f"{server['listen'] if server else None}")
            if words[0] == "add":
                check.ok(len(words) == 3 and words[2].isdigit(), f"add {words[1:]} is BASE COUNT", "malformed")
    check_annotations(j, template, metrics, check)
    check_security(j, template, uid, check)


def check_podmonitor(pm, workloads, check):
    name = pm["metadata"]["name"]
    check.section(f"PodMonitor {name} ({pm['_file']})")
    body = body_of(pm)
    match = (body.get("selector") or {}).get("matchLabels") or {}
    matched = [(o, t) for o, t in workloads if selects(match, labels_of(t))]
    check.ok(any(o["kind"] == "Job" for o, _ in matched), f"selector {match} selects the fleet's pods",
             f"selects {[o['metadata']['name'] for o, _ in matched] or 'nothing'}")
    for ep in body.get("podMetricsEndpoints") or []:
        check.ok(ep.get("path", METRICS_PATH) == METRICS_PATH, f"endpoint path {ep.get('path')}",
                 f"the metrics server answers only {METRICS_PATH}")
        for o, t in matched:
            check.ok(resolve_port(container_ports(t), ep.get("port")) is not None,
                     f"port {ep.get('port')!r} is a container port of {o['kind']} {o['metadata']['name']}",
                     "not declared")


def meta_name(prefix, key):
    return prefix + re.sub(r"[^a-zA-Z0-9_]", "_", key)


def relabel(rules, labels):
    """Applies keep/drop/replace rules as Prometheus does; None when dropped."""
    labels = dict(labels)
    for r in rules:
        action = r.get("action", "replace")
        value = r.get("separator", ";").join(labels.get(s, "") for s in r.get("source_labels", []))
        try:
            regex = re.compile("^(?:" + str(r.get("regex", "(.*)")) + ")$")
        except re.error as e:
            raise ValueError(f"regex {r.get('regex')!r}: {e}") from e
        m = regex.match(value)
        if action == "keep" and not m:
            return None
        if action == "drop" and m:
            return None
        if action == "replace" and m:
            out = re.sub(r"\$\{?(\d+)\}?", lambda g: m.group(int(g.group(1))) or "", r.get("replacement", "$1"))
            if out:
                labels[r["target_label"]] = out
            else:
                labels.pop(r["target_label"], None)
    return labels


def check_scrape_config(cm, key, workloads, promtool, check):
    check.section(f"ConfigMap {cm['metadata']['name']} {key} ({cm['_file']})")
    text = cm["data"][key]
    try:
        config = yaml.safe_load(text)
    except yaml.YAMLError as e:
        check.ok(False, f"{key} parses", str(e).replace("\n", " "))
        return
    jobs = [j for j in (config.get("scrape_configs") or [])
            if any(sd.get("role") == "pod" for sd in j.get("kubernetes_sd_configs") or [])]
    if not check.ok(bool(jobs), "a scrape job with kubernetes_sd_configs role pod", "none"):
        return
    for job in jobs:
        rules = job.get("relabel_configs") or []
        used = {s for r in rules for s in r.get("source_labels", [])}
        for ann in ("prometheus.io/scrape", "prometheus.io/port", "prometheus.io/path"):
            meta = meta_name("__meta_kubernetes_pod_annotation_", ann)
            check.ok(meta in used, f"job {job['job_name']}: relabelling reads {ann}", f"{meta} unused")
        # Every annotated zel pod, seen as discovery shows a running pod with
        # the IP 10.0.0.1: one target per container port.
        for o, t in workloads:
            ann = ((t.get("metadata") or {}).get("annotations")) or {}
            if "prometheus.io/scrape" not in ann:
                continue
            targets = set()
            for cp in container_ports(t):
                labels = {"__address__": f"10.0.0.1:{cp['containerPort']}", "__metrics_path__": "/metrics",
                          "__meta_kubernetes_pod_phase": "Running", "__meta_kubernetes_namespace": "default",
                          "__meta_kubernetes_pod_name": o["metadata"]["name"] + "-x"}
                labels.update({meta_name("__meta_kubernetes_pod_label_", k): str(v) for k, v in labels_of(t).items()})
                labels.update({meta_name("__meta_kubernetes_pod_annotation_", k): str(v) for k, v in ann.items()})
                try:
                    result = relabel(rules, labels)
                except ValueError as e:
                    check.ok(False, f"job {job['job_name']}: relabelling runs", str(e))
                    return
                if result is not None:
                    # Prometheus keeps one of the targets whose labels (the
                    # discovery's __meta_* ones gone) are all the same.
                    targets.add(tuple(sorted((k, v) for k, v in result.items() if not k.startswith("__meta_"))))
            want = f"10.0.0.1:{ann.get('prometheus.io/port')}{ann.get('prometheus.io/path', METRICS_PATH)}"
            got = sorted(dict(x)["__address__"] + dict(x).get("__metrics_path__", "") for x in targets)
            check.ok(got == [want], f"job {job['job_name']}: {o['kind']} {o['metadata']['name']} is scraped "
                     f"at {want} and only there", f"relabelling gives {got or 'no target'}")
    if not promtool:
        print("  skip  promtool is not installed")
        return
    res = run_promtool(promtool, text)
    what = "promtool check config accepts it"
    if res.returncode != 0 and "field kubernetes_sd_configs not found" in res.stdout + res.stderr:
        # Some builds of promtool (Debian's) leave Kubernetes discovery out.
        # The rest of the file is still worth checking.
        for job in config.get("scrape_configs") or []:
            if job.pop("kubernetes_sd_configs", None) is not None:
                job["static_configs"] = [{"targets": ["10.0.0.1:9400"]}]
        res = run_promtool(promtool, yaml.safe_dump(config))
        what += " (this promtool has no Kubernetes discovery: checked with static_configs in its place)"
    check.ok(res.returncode == 0, what, (res.stdout + res.stderr).strip().replace("\n", " "))


def check_dashboard_file(path, promtool, check):
    """The dashboard as parsed, or None when it does not parse."""
    rel = os.path.relpath(path, ROOT)
    check.section(f"Grafana dashboard {rel}")
    try:
        dashboard = dashboard_queries.load(path)
    except (OSError, ValueError) as e:
        check.ok(False, f"{rel} parses", str(e))
        return None
    found = dashboard_queries.queries(dashboard)
    check.ok(True, f"{rel} parses: {len(dashboard_queries.panels(dashboard))} panels, {len(found)} queries")
    problems = dashboard_queries.structure_problems(dashboard)
    check.ok(not problems, "schemaVersion, the datasource/job/instance variables, every panel's type, gridPos "
             "and targets, every selector filtered by $job and $instance", "; ".join(problems))
    if not promtool:
        print("  skip  promtool is not installed: the expressions are not parsed")
        return dashboard
    # promtool parses each expression of a rules file: one recording rule per query,
    # named after its panel and refId.
    rules = {"groups": [{"name": "dashboard", "rules": [
        {"record": re.sub(r"\W+", "_", f"{title} {ref}").strip("_").lower(),
         "expr": dashboard_queries.substitute(expr or "")}
        for title, ref, _, expr in found]}]}
    with tempfile.NamedTemporaryFile("w", suffix=".yml") as f:
        yaml.safe_dump(rules, f)
        f.flush()
        res = subprocess.run([promtool, "check", "rules", f.name], capture_output=True, text=True, timeout=60)
    check.ok(res.returncode == 0, f"promtool parses all {len(found)} expressions (variables replaced)",
             (res.stdout + res.stderr).strip().replace("\n", " "))
    return dashboard


def check_dashboard_configmap(cm, key, dashboard, dashboard_path, check):
    check.section(f"ConfigMap {cm['metadata']['name']} {key} ({cm['_file']})")
    labels = (cm.get("metadata") or {}).get("labels") or {}
    check.ok(labels.get("grafana_dashboard") == "1", 'label grafana_dashboard: "1"',
             "Grafana's dashboard sidecar loads only ConfigMaps with it")
    try:
        embedded = json.loads(cm["data"][key])
    except ValueError as e:
        check.ok(False, f"{key} parses as JSON", str(e))
        return
    rel = os.path.relpath(dashboard_path, ROOT)
    check.ok(dashboard is not None and embedded == dashboard, f"{key} is {rel}",
             f"they differ: python3 deploy/grafana/check_dashboard.py --write-configmap {cm['_file']}")
    size = len(yaml.safe_dump(cm).encode())
    check.ok(size < APPLY_ANNOTATION_LIMIT, f"{size} bytes, under kubectl apply's {APPLY_ANNOTATION_LIMIT}",
             "kubectl apply would refuse it; use kubectl create or split the dashboard")


def run_promtool(promtool, text):
    with tempfile.NamedTemporaryFile("w", suffix=".yml") as f:
        f.write(text)
        f.flush()
        return subprocess.run([promtool, "check", "config", f.name], capture_output=True, text=True, timeout=60)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"),
                    help="folder with zel-cli and zel-server (default build/bin)")
    ap.add_argument("--dir", default=os.path.join(ROOT, "deploy", "kubernetes"), help="manifest folder")
    ap.add_argument("--dockerfile", default=os.path.join(ROOT, "Dockerfile"))
    ap.add_argument("--dashboard", default=os.path.join(ROOT, "deploy", "grafana", "zel-fleet.json"),
                    help="the Grafana dashboard the ConfigMap must hold")
    args = ap.parse_args()

    check = Checker()
    tools = {}
    for exe in ("zel-cli", "zel-server"):
        path = os.path.join(args.bin, exe)
        if not os.access(path, os.X_OK):
            die(f"check-manifests: {path} not found; build it or pass --bin")
        tools[exe] = Tool(exe, path)
    print(f"options from {args.bin}/zel-cli --help: {' '.join(sorted(tools['zel-cli'].options))}")
    print(f"options from {args.bin}/zel-server --help: {' '.join(sorted(tools['zel-server'].options))}")
    uid = dockerfile_user(args.dockerfile)
    print(f"image user from {os.path.relpath(args.dockerfile, ROOT)}: {uid}")

    docs = load_manifests(args.dir, check)
    workloads = pod_templates(docs)
    services = [d for d in docs if d["kind"] == "Service"]

    server = None
    for d in docs:
        if d["kind"] == "Deployment":
            result = check_deployment(d, tools, uid, check)
            if result["listen"] is not None:
                server = result
    check.ok(server is not None, "a Deployment runs zel-server", "none found")
    for s in services:
        check_service(s, workloads, check)
    jobs = [d for d in docs if d["kind"] == "Job"]
    check.ok(bool(jobs), "a Job runs the fleet", "none found")
    for j in jobs:
        check_job(j, tools, uid, server, services, workloads, check)
    for pm in (d for d in docs if d["kind"] == "PodMonitor"):
        check_podmonitor(pm, workloads, check)
    promtool = shutil.which("promtool")
    dashboards = 0
    for cm in (d for d in docs if d["kind"] == "ConfigMap"):
        for key in (cm.get("data") or {}):
            if key.endswith((".yml", ".yaml")) and "scrape_configs" in cm["data"][key]:
                check_scrape_config(cm, key, workloads, promtool, check)
    dashboard = check_dashboard_file(args.dashboard, promtool, check)
    for cm in (d for d in docs if d["kind"] == "ConfigMap"):
        for key in (cm.get("data") or {}):
            if key.endswith(".json"):
                dashboards += 1
                check_dashboard_configmap(cm, key, dashboard, args.dashboard, check)
    check.ok(dashboards > 0, "a ConfigMap holds the Grafana dashboard", "none found")
    known = {"Deployment", "Service", "Job", "PodMonitor", "ConfigMap"}
    for d in docs:
        check.ok(d["kind"] in known, f"{d['_file']}: kind {d['kind']} is one this script checks", "unchecked kind")

    print(f"\ncheck-manifests: {check.passed + len(check.failed)} checks, {len(check.failed)} failed")
    for f in check.failed:
        print(f"  failed: {f}")
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
