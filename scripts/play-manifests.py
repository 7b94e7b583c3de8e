#!/usr/bin/env python3
"""Runs deploy/kubernetes with podman on this machine: the second half of
scripts/check-containers.sh, which first installs podman, makes the base
images and builds the image.

    python3 scripts/play-manifests.py --work DIR [--shards K] [--devices N]
                                      [--duration S] [--dir deploy/kubernetes]

It plays a copy of zel-server.yaml's Deployment, waits until its readiness
probe would pass, then plays K pods made from zel-fleet-job.yaml's template as
the Job controller makes them for indexes 0 to K-1. Debian's Prometheus runs
the scrape job of prometheus-scrape.yaml against them, its pod discovery
replaced by a file this script keeps as the Kubernetes pod discovery would
(the same meta labels, one target per container port, the pod's phase).

Copies are adapted where podman or this machine differs from a cluster; each
adaptation is printed. The manifests themselves are never changed.

It checks each shard's exit status and verdict, that the shards' device IDs do
not overlap, the server's login count, Prometheus's sum of the shards' devices
online and every container's user and security context as the kernel reports
them. Everything it started is removed at the end. Exits 1 on any failure,
2 when it cannot run at all.

Every address used is a loopback address: each pod gets one of its own in
127.0.100.0/24 in place of a pod IP, Prometheus listens on 127.0.0.1.
"""

import argparse
import copy
import json
import os
import random
import re
import signal
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

import yaml

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INDEX_ANNOTATION = "batch.kubernetes.io/job-completion-index"
POD_NET = "127.0.100."
# Kubernetes' random name suffixes use these characters (no vowels, no 0/1/3).
NAME_CHARS = "bcdfghjklmnpqrstvwxz2456789"


def die(message):
    print(f"play-manifests: {message}", file=sys.stderr)
    sys.exit(2)


class Checker:
    def __init__(self):
        self.failed = []

    def ok(self, cond, what, why=""):
        print(f"  {'ok  ' if cond else 'FAIL'}  {what}" + ("" if cond or not why else f": {why}"), flush=True)
        if not cond:
            self.failed.append(what)
        return cond


class Stop(Exception):
    """SIGINT or SIGTERM: tear down and leave."""


def on_signal(signum, _frame):
    raise Stop(signal.Signals(signum).name)


def say(text=""):
    print(text, flush=True)


def section(title):
    say(f"\n== {title}")


def podman(*args, timeout=120, check=True):
    res = subprocess.run(["podman", *args], capture_output=True, text=True, timeout=timeout)
    if check and res.returncode != 0:
        raise RuntimeError(f"podman {' '.join(args)}: exit {res.returncode}: {res.stderr.strip()}")
    return res


def http_get(url, timeout=3):
    with urllib.request.urlopen(url, timeout=timeout) as r:
        return r.status, r.read().decode("utf-8", "replace")


def metric_values(text, name):
    """Values of every sample of metric name in Prometheus text."""
    out = []
    for line in text.splitlines():
        m = re.match(rf"^{re.escape(name)}(?:\{{[^}}]*\}})?\s+(\S+)", line)
        if m:
            out.append(float(m.group(1)))
    return out


# ---------------------------------------------------------------- manifests

def load(directory, name):
    with open(os.path.join(directory, name), encoding="utf-8") as f:
        return [d for d in yaml.safe_load_all(f) if d]


def one(docs, kind, where):
    found = [d for d in docs if d.get("kind") == kind]
    if len(found) != 1:
        die(f"{where}: expected one {kind}, found {len(found)}")
    return found[0]


def arg_value(args, option):
    for i, a in enumerate(args[:-1]):
        if a == option:
            return i + 1
    return None


def rebind_all_interfaces(args, option, address, notes, who):
    """--listen/--metrics 0.0.0.0:P becomes ADDRESS:P: on the host's network
    every pod would otherwise claim the same port on every address."""
    i = arg_value(args, option)
    if i is not None and args[i].startswith("0.0.0.0:"):
        new = address + args[i][len("0.0.0.0"):]
        notes.append(f"{who}: {option} {args[i]} -> {new} (host network: this pod's own loopback address)")
        args[i] = new


def expand_vars(text, env):
    """$(VAR) as the kubelet expands it in command and args; $$ is a literal $
    and an unknown variable is left as written."""
    def sub(m):
        if m.group(0) == "$$":
            return "$"
        return env.get(m.group(1), m.group(0))
    return re.sub(r"\$\$|\$\(([A-Za-z_][A-Za-z0-9_]*)\)", sub, text)


def container_env(container, annotations):
    """The environment the kubelet gives a container: literal values and the
    downward API's metadata.annotations[...] (the only fieldRefs used here)."""
    env = {}
    for e in container.get("env") or []:
        if "value" in e:
            env[e["name"]] = expand_vars(str(e["value"]), env)
            continue
        path = ((e.get("valueFrom") or {}).get("fieldRef") or {}).get("fieldPath", "")
        m = re.match(r"^metadata\.annotations\['([^']+)'\]$", path)
        if m and m.group(1) in annotations:
            env[e["name"]] = annotations[m.group(1)]
    return env


def rename_volumes(spec, pod_name, notes, who):
    """podman 4.3 makes an emptyDir a named volume called after the pod's
    volume, so every pod of one template would share it; Kubernetes gives
    each pod its own. Each pod's copy names its volumes after the pod."""
    names = {}
    for v in spec.get("volumes") or []:
        if "emptyDir" in v:
            names[v["name"]] = f"{pod_name}-{v['name']}"
            v["name"] = names[v["name"]]
    for c in spec.get("containers") or []:
        for vm in c.get("volumeMounts") or []:
            vm["name"] = names.get(vm["name"], vm["name"])
    for old, new in names.items():
        notes.append(f"{who}: emptyDir {old} named {new} (podman 4.3 would share one volume '{old}' "
                     "between the pods)")


def server_pod_copy(deployment, address, duration_notes):
    """The Deployment as podman should play it."""
    d = copy.deepcopy(deployment)
    spec = d["spec"]["template"]["spec"]
    spec["hostNetwork"] = True
    for c in spec["containers"]:
        args = c.get("args") or []
        rebind_all_interfaces(args, "--listen", address, duration_notes, "zel-server")
        rebind_all_interfaces(args, "--metrics", address, duration_notes, "zel-server")
    return d


def fleet_pod(job, index, shards, devices, duration, server_name, server_address, pod_address, notes):
    """The pod a Job controller makes for one completion index, then adapted
    for podman. Returns (pod, pod name)."""
    name = job["metadata"]["name"]
    template = copy.deepcopy(job["spec"]["template"])
    meta = template.setdefault("metadata", {})
    uid = f"{random.getrandbits(32):08x}-0000-4000-8000-{random.getrandbits(48):012x}"
    # What the controller adds: the job's labels, the index as annotation and
    # label, a hostname per index, JOB_COMPLETION_INDEX in every container.
    meta["labels"] = {**(meta.get("labels") or {}),
                      "batch.kubernetes.io/controller-uid": uid, "controller-uid": uid,
                      "batch.kubernetes.io/job-name": name, "job-name": name,
                      INDEX_ANNOTATION: str(index)}
    meta["annotations"] = {**(meta.get("annotations") or {}), INDEX_ANNOTATION: str(index)}
    pod_name = f"{name}-{index}-" + "".join(random.choice(NAME_CHARS) for _ in range(5))
    meta["name"] = pod_name
    spec = template["spec"]
    spec["hostname"] = f"{name}-{index}"
    for c in spec["containers"]:
        c.setdefault("env", []).append({"name": "JOB_COMPLETION_INDEX", "valueFrom": {
            "fieldRef": {"fieldPath": f"metadata.annotations['{INDEX_ANNOTATION}']"}}})

    # What podman needs, or what this smaller run changes.
    first = index == 0
    spec["hostNetwork"] = True
    rename_volumes(spec, pod_name, notes if first else [], "zel-fleet")
    for c in spec["containers"]:
        env = container_env(c, meta["annotations"])
        c["args"] = [expand_vars(a, env) for a in c.get("args") or []]
        args = c["args"]
        if first:
            notes.append(f"zel-fleet: $(VAR) in args expanded here (podman leaves it as written): "
                         f"--shard {args[arg_value(args, '--shard')]} for index 0")
        rebind_all_interfaces(args, "--metrics", pod_address, notes if first else [], "zel-fleet")
        # podman 4.3 leaves hostAliases out of a host-network pod's /etc/hosts,
        # so the Service's name cannot be made to resolve: the address instead.
        for k, a in enumerate(args):
            m = re.match(r"^set (\S+):(\d+)$", a)
            if m and k > 0 and args[k - 1] == "-e" and m.group(1) == server_name:
                args[k] = f"set {server_address}:{m.group(2)}"
                if first:
                    notes.append(f"zel-fleet: -e '{a}' -> '{args[k]}' (no Service DNS; podman 4.3 ignores "
                                 "hostAliases with hostNetwork)")
        i = arg_value(args, "--shard")
        shard_index, total = args[i].split("/")
        if int(total) != shards:
            args[i] = f"{shard_index}/{shards}"
            if first:
                notes.append(f"zel-fleet: {shards} shards in place of {total}: --shard I/{shards} "
                             f"(on a cluster completions and parallelism would be {shards} with it)")
        i = arg_value(args, "--duration")
        if i is not None and int(args[i]) != duration:
            if first:
                notes.append(f"zel-fleet: --duration {duration} in place of {args[i]}")
            args[i] = str(duration)
        for k, a in enumerate(args):
            m = re.match(r"^add (\S+) (\d+)$", a)
            if m and k > 0 and args[k - 1] == "-e" and int(m.group(2)) != devices:
                if first:
                    notes.append(f"zel-fleet: add {m.group(1)} {devices} per shard in place of {m.group(2)}")
                args[k] = f"add {m.group(1)} {devices}"
    pod = {"apiVersion": "v1", "kind": "Pod", "metadata": meta, "spec": spec}
    return pod, pod_name


# ---------------------------------------------------------------- podman

def without_ports(doc, notes, who):
    """The document as written for podman: on the host's network podman 4.3
    refuses any container port ("PortMappings can only be used with Bridge or
    slirp4netns networking"), though a containerPort alone publishes nothing
    in Kubernetes. The ports stay in the pod as discovery sees it."""
    doc = copy.deepcopy(doc)
    spec = doc["spec"]["template"]["spec"] if doc["kind"] != "Pod" else doc["spec"]
    for c in spec["containers"]:
        if c.pop("ports", None) and notes is not None:
            notes.append(f"{who}: containerPorts left out of podman's copy (podman 4.3 refuses them with "
                         "hostNetwork); the pod still declares them to the scrape discovery")
    return doc


def write_yaml(path, doc):
    with open(path, "w", encoding="utf-8") as f:
        yaml.safe_dump(doc, f, sort_keys=False)


def play(path):
    res = podman("kube", "play", path, timeout=180)
    pods = re.findall(r"^Pod:\n([0-9a-f]{64})", res.stdout, re.M)
    return res.stdout, pods


def pod_containers(pod_id):
    """{container name in the manifest: podman container id} of a pod, infra left out."""
    res = podman("pod", "inspect", pod_id)
    info = json.loads(res.stdout)
    info = info[0] if isinstance(info, list) else info
    out = {}
    for c in info.get("Containers") or []:
        if c["Id"] == info.get("InfraContainerID"):
            continue
        # podman names a pod's container POD-CONTAINER.
        name = c["Name"][len(info["Name"]) + 1:] if c["Name"].startswith(info["Name"] + "-") else c["Name"]
        out[name] = c["Id"]
    return info["Name"], out


def volumes_of(containers):
    """Names of the podman volumes the containers mount."""
    names = set()
    for cid in containers.values():
        for m in json.loads(podman("inspect", "--type", "container", cid).stdout)[0].get("Mounts") or []:
            if m.get("Type") == "volume":
                names.add(m["Name"])
    return names


def container_state(cid):
    res = podman("inspect", "--type", "container", cid)
    return json.loads(res.stdout)[0]["State"]


def phase_of(states):
    if any(s["Running"] for s in states):
        return "Running"
    if all(s["Status"] == "exited" for s in states):
        return "Succeeded" if all(s["ExitCode"] == 0 for s in states) else "Failed"
    return "Pending"


def kernel_view(pid):
    """What the kernel says about a running container's first process."""
    status = {}
    with open(f"/proc/{pid}/status", encoding="utf-8") as f:
        for line in f:
            k, _, v = line.partition(":")
            status[k] = v.strip()
    root_opts = None
    data_opts = {}
    with open(f"/proc/{pid}/mountinfo", encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if parts[4] == "/":
                root_opts = parts[5].split(",")
            else:
                data_opts[parts[4]] = parts[5].split(",")
    return status, root_opts, data_opts


def cgroup_figures(pid):
    """Memory limit and peak use and the CPU quota (in CPUs) of a running
    process's cgroups (this host's v1 hierarchy)."""
    paths = {}
    with open(f"/proc/{pid}/cgroup", encoding="utf-8") as f:
        for line in f:
            _, controllers, path = line.rstrip("\n").split(":", 2)
            for c in controllers.split(","):
                paths[c] = path
    read = lambda c, name: int(open(f"/sys/fs/cgroup/{c}{paths[c]}/{name}", encoding="utf-8").read())
    quota, period = read("cpu", "cpu.cfs_quota_us"), read("cpu", "cpu.cfs_period_us")
    return {"memory_limit": read("memory", "memory.limit_in_bytes"),
            "memory_peak": read("memory", "memory.max_usage_in_bytes"),
            "cpus": quota / period if quota > 0 else None}


def quantity(text):
    """A Kubernetes resource quantity (512Mi, 1Gi, 2, 500m) as a number."""
    units = {"Ki": 2 ** 10, "Mi": 2 ** 20, "Gi": 2 ** 30, "k": 10 ** 3, "M": 10 ** 6, "G": 10 ** 9, "m": 1e-3}
    m = re.match(r"^([0-9.]+)([A-Za-z]*)$", str(text))
    return float(m.group(1)) * units.get(m.group(2), 1)


def check_resources(who, container, figures, check):
    limits = (container.get("resources") or {}).get("limits") or {}
    if figures is None:
        check.ok(False, f"{who}: cgroup limits read", "never read while it ran")
        return
    if "memory" in limits:
        check.ok(figures["memory_limit"] == quantity(limits["memory"]),
                 f"{who}: memory limit {limits['memory']} in its cgroup (peak use "
                 f"{figures['memory_peak'] / 2 ** 20:.1f} MiB)", f"{figures['memory_limit']} bytes")
    if "cpu" in limits:
        check.ok(figures["cpus"] == quantity(limits["cpu"]), f"{who}: CPU limit {limits['cpu']} in its cgroup",
                 f"quota {figures['cpus']} CPUs")


def check_security(who, template, container, view, check):
    """The kernel's view of a container against the security context its pod
    template asks for (pod level, then the container's own over it)."""
    status, root_opts, mounts = view
    pod_sc = template["spec"].get("securityContext") or {}
    sc = {**pod_sc, **(container.get("securityContext") or {})}
    ids = lambda key: status.get(key, "").split()  # real, effective, saved, filesystem
    if "runAsUser" in sc:
        check.ok(ids("Uid") == [str(sc["runAsUser"])] * 4, f"{who}: runs as uid {sc['runAsUser']}",
                 f"Uid: {status.get('Uid')}")
    if sc.get("runAsNonRoot"):
        check.ok("0" not in ids("Uid"), f"{who}: runAsNonRoot: no uid is 0", f"Uid: {status.get('Uid')}")
    if "runAsGroup" in sc:
        check.ok(ids("Gid") == [str(sc["runAsGroup"])] * 4, f"{who}: runs as gid {sc['runAsGroup']}",
                 f"Gid: {status.get('Gid')}")
    if "fsGroup" in pod_sc:
        groups = status.get("Groups", "").split()
        check.ok(str(pod_sc["fsGroup"]) in groups, f"{who}: fsGroup {pod_sc['fsGroup']} is a supplementary group",
                 f"Groups: {status.get('Groups') or '(none)'}")
    if sc.get("allowPrivilegeEscalation") is False:
        check.ok(status.get("NoNewPrivs") == "1", f"{who}: allowPrivilegeEscalation false (no_new_privs set)",
                 f"NoNewPrivs: {status.get('NoNewPrivs')}")
    drop = ((sc.get("capabilities") or {}).get("drop")) or []
    if "ALL" in drop and not (sc.get("capabilities") or {}).get("add"):
        caps = {k: status.get(k) for k in ("CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb")}
        check.ok(all(v is not None and int(v, 16) == 0 for v in caps.values()),
                 f"{who}: capabilities drop ALL (no capability in any set)",
                 " ".join(f"{k}={v}" for k, v in caps.items()))
    if (sc.get("seccompProfile") or {}).get("type") == "RuntimeDefault":
        check.ok(status.get("Seccomp") == "2", f"{who}: seccomp RuntimeDefault (a filter is installed)",
                 f"Seccomp: {status.get('Seccomp')}")
    if sc.get("readOnlyRootFilesystem"):
        check.ok(root_opts is not None and "ro" in root_opts, f"{who}: root filesystem read-only",
                 f"/ mounted {','.join(root_opts or ['?'])}")
    for vm in container.get("volumeMounts") or []:
        opts = mounts.get(vm["mountPath"])
        want_ro = bool(vm.get("readOnly"))
        check.ok(opts is not None and ("ro" in opts) == want_ro,
                 f"{who}: volume {vm['name']} at {vm['mountPath']} mounted {'read-only' if want_ro else 'writable'}",
                 f"mounted {','.join(opts) if opts else 'not at all'}")


# ---------------------------------------------------------------- discovery

def sanitize(name):
    return re.sub(r"[^a-zA-Z0-9_]", "_", name)


def sd_groups(pods):
    """Target groups as Prometheus' Kubernetes pod discovery makes them: one
    per declared container port, at the pod's IP, with its meta labels."""
    groups = []
    for p in pods:
        meta = p["manifest"]["metadata"]
        base = {"__meta_kubernetes_namespace": "default",
                "__meta_kubernetes_pod_name": p["name"],
                "__meta_kubernetes_pod_ip": p["address"],
                "__meta_kubernetes_pod_phase": p["phase"],
                "__meta_kubernetes_pod_ready": "true" if p["phase"] == "Running" else "false"}
        for k, v in (meta.get("labels") or {}).items():
            base[f"__meta_kubernetes_pod_label_{sanitize(k)}"] = str(v)
            base[f"__meta_kubernetes_pod_labelpresent_{sanitize(k)}"] = "true"
        for k, v in (meta.get("annotations") or {}).items():
            base[f"__meta_kubernetes_pod_annotation_{sanitize(k)}"] = str(v)
            base[f"__meta_kubernetes_pod_annotationpresent_{sanitize(k)}"] = "true"
        for c in p["manifest"]["spec"]["containers"]:
            for port in c.get("ports") or []:
                labels = {**base, "__meta_kubernetes_pod_container_name": c["name"],
                          "__meta_kubernetes_pod_container_port_name": port.get("name", ""),
                          "__meta_kubernetes_pod_container_port_number": str(port["containerPort"]),
                          "__meta_kubernetes_pod_container_port_protocol": port.get("protocol", "TCP")}
                groups.append({"targets": [f"{p['address']}:{port['containerPort']}"], "labels": labels})
    return groups


def write_sd(path, pods):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(sd_groups(pods), f, indent=1)
    os.replace(tmp, path)


def prometheus_config(configmap, sd_file):
    """The ConfigMap's prometheus.yml with each pod-role Kubernetes discovery
    replaced by the file this script keeps."""
    config = yaml.safe_load(configmap["data"]["prometheus.yml"])
    for job in config.get("scrape_configs") or []:
        sd = job.pop("kubernetes_sd_configs", None)
        if sd:
            if any(s.get("role") != "pod" for s in sd):
                die(f"scrape job {job.get('job_name')}: only role: pod can be stood in for")
            job["file_sd_configs"] = [{"files": [sd_file], "refresh_interval": "2s"}]
    return config


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def prom_query(base, query):
    url = f"{base}/api/v1/query?" + urllib.parse.urlencode({"query": query})
    _, body = http_get(url)
    return json.loads(body)["data"]["result"]


# ---------------------------------------------------------------- the run

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--work", required=True, help="directory for copies, logs and Prometheus' data")
    ap.add_argument("--dir", default=os.path.join(ROOT, "deploy", "kubernetes"))
    ap.add_argument("--shards", type=int, default=2)
    ap.add_argument("--devices", type=int, default=200, help="devices per shard")
    ap.add_argument("--duration", type=int, default=60, help="each shard's --duration, seconds")
    args = ap.parse_args()
    if not 1 <= args.shards <= 200:
        die("--shards: 1 to 200")
    if not 1 <= args.devices <= 9999:
        die("--devices: 1 to 9999 (one add command)")
    if args.duration < 30:
        die("--duration: at least 30 s, so that Prometheus scrapes every shard while it runs")
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    os.makedirs(args.work, exist_ok=True)

    server_docs = load(args.dir, "zel-server.yaml")
    deployment = one(server_docs, "Deployment", "zel-server.yaml")
    service = one(server_docs, "Service", "zel-server.yaml")
    job = one(load(args.dir, "zel-fleet-job.yaml"), "Job", "zel-fleet-job.yaml")
    configmap = one(load(args.dir, "prometheus-scrape.yaml"), "ConfigMap", "prometheus-scrape.yaml")
    images = {c["image"] for t in (deployment, job) for c in t["spec"]["template"]["spec"]["containers"]}
    if len(images) != 1:
        die(f"the workloads name different images: {sorted(images)}")
    image = images.pop()
    if podman("image", "exists", image, check=False).returncode != 0:
        die(f"image {image} is not in podman's storage: build it first")

    check = Checker()
    started = {"pods": [], "prometheus": None, "volumes": []}
    try:
        run(args, deployment, service, job, configmap, image, check, started)
    except Stop as e:
        check.ok(False, f"run interrupted by {e}")
    except (RuntimeError, subprocess.TimeoutExpired, OSError, KeyError, ValueError) as e:
        check.ok(False, "run completed", str(e))
    finally:
        teardown(started)
    section("result")
    if check.failed:
        say(f"FAIL: {len(check.failed)} check(s) failed:")
        for f in check.failed:
            say(f"  - {f}")
        return 1
    say("PASS: every check passed")
    return 0


def teardown(started):
    section("teardown")
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    prom = started["prometheus"]
    if prom is not None and prom.poll() is None:
        prom.terminate()
        try:
            prom.wait(timeout=20)
        except subprocess.TimeoutExpired:
            prom.kill()
            prom.wait()
        say("  Prometheus stopped")
    for path in reversed(started["pods"]):
        res = podman("kube", "down", path, timeout=120, check=False)
        say(f"  podman kube down {os.path.basename(path)}: exit {res.returncode}"
            + ("" if res.returncode == 0 else f" ({res.stderr.strip()})"))
    for vol in sorted(set(started["volumes"])):
        if podman("volume", "exists", vol, check=False).returncode == 0:
            res = podman("volume", "rm", "-f", vol, check=False)
            say(f"  podman volume rm {vol}: exit {res.returncode}")


def wait_ready(deployment, address, timeout):
    """Polls the Deployment's readiness probe (an HTTP GET) until it answers
    200. Returns the seconds it took, or None."""
    c = deployment["spec"]["template"]["spec"]["containers"][0]
    probe = c["readinessProbe"]["httpGet"]
    port = probe["port"]
    if isinstance(port, str):
        port = next(p["containerPort"] for p in c["ports"] if p.get("name") == port)
    url = f"http://{address}:{port}{probe.get('path', '/')}"
    t0 = time.monotonic()
    while time.monotonic() - t0 < timeout:
        try:
            if http_get(url, timeout=c["readinessProbe"].get("timeoutSeconds", 1))[0] == 200:
                return time.monotonic() - t0, url
        except (urllib.error.URLError, OSError):
            pass
        time.sleep(0.5)
    return None, url


def run(args, deployment, service, job, configmap, image, check, started):
    work = args.work
    server_address = POD_NET + "1"
    notes = []
    pods = []  # {"name", "address", "manifest", "containers", "phase", "role"}
    t_run = time.monotonic()

    # Prometheus first, so that it sees every pod from its start.
    section("Prometheus")
    sd_file = os.path.join(work, "pods.json")
    write_sd(sd_file, pods)
    config = prometheus_config(configmap, sd_file)
    with open(os.path.join(work, "prometheus.yml"), "w", encoding="utf-8") as f:
        yaml.safe_dump(config, f, sort_keys=False)
    prom_port = free_port()
    prom_base = f"http://127.0.0.1:{prom_port}"
    prom_log = open(os.path.join(work, "prometheus.log"), "w", encoding="utf-8")
    started["prometheus"] = subprocess.Popen(
        ["prometheus", f"--config.file={work}/prometheus.yml", f"--storage.tsdb.path={work}/prometheus-data",
         f"--web.listen-address=127.0.0.1:{prom_port}", "--storage.tsdb.retention.time=1d"],
        stdout=prom_log, stderr=subprocess.STDOUT)
    t0 = time.monotonic()
    while True:
        try:
            if http_get(f"{prom_base}/-/ready")[0] == 200:
                break
        except (urllib.error.URLError, OSError):
            pass
        if started["prometheus"].poll() is not None or time.monotonic() - t0 > 60:
            raise RuntimeError(f"Prometheus did not start (see {work}/prometheus.log)")
        time.sleep(0.5)
    scrape_every = config.get("global", {}).get("scrape_interval", "1m")
    say(f"  {prom_base} ready in {time.monotonic() - t0:.1f} s; the job(s) "
        f"{[j['job_name'] for j in config['scrape_configs']]} of prometheus-scrape.yaml, every {scrape_every}, "
        f"pod discovery from {sd_file}")
    notes.append("Prometheus: Debian's build has no Kubernetes discovery; this script writes the targets it "
                 "would find (same meta labels, one per container port, the pod phase) to a file, and the "
                 "ConfigMap's relabelling runs unchanged on them")

    # zel-server, and wait as `kubectl rollout status` would.
    section("zel-server (Deployment)")
    server = server_pod_copy(deployment, server_address, notes)
    notes.append(f"zel-server: hostNetwork: true; pod address {server_address}; the Service "
                 f"{service['metadata']['name']} is not played (no cluster DNS or virtual IP), "
                 "its port is reached at the pod address")
    path = os.path.join(work, "zel-server.yaml")
    write_yaml(path, without_ports(server, notes, "zel-server"))
    t0 = time.monotonic()
    started["pods"].append(path)
    out, ids = play(path)
    if len(ids) != 1:
        raise RuntimeError(f"podman kube play {path} made {len(ids)} pods: {out}")
    name, ctrs = pod_containers(ids[0])
    pods.append({"name": name, "address": server_address, "manifest": server["spec"]["template"],
                 "containers": ctrs, "phase": "Running", "role": "server"})
    write_sd(sd_file, pods)
    ready, url = wait_ready(deployment, server_address, 60)
    if not check.ok(ready is not None, f"zel-server pod {name} ready ({url} answers)", "no answer in 60 s"):
        return
    say(f"  played and ready in {time.monotonic() - t0:.1f} s (probe answered after {ready:.1f} s)")

    # The shards, as the Job controller makes them, all at once.
    section(f"zel-fleet (Job): {args.shards} pods of {args.devices} devices, {args.duration} s")
    server_name = next(a for c in job["spec"]["template"]["spec"]["containers"] for a in c.get("args") or []
                       if a.startswith("set ")).split()[1].rsplit(":", 1)[0]
    t_shards = time.monotonic()
    for i in range(args.shards):
        pod, pod_name = fleet_pod(job, i, args.shards, args.devices, args.duration, server_name,
                                  server_address, POD_NET + str(2 + i), notes)
        path = os.path.join(work, f"{pod_name}.yaml")
        write_yaml(path, without_ports(pod, notes if i == 0 else None, "zel-fleet"))
        started["pods"].append(path)
        out, ids = play(path)
        if len(ids) != 1:
            raise RuntimeError(f"podman kube play {path} made {len(ids)} pods: {out}")
        name, ctrs = pod_containers(ids[0])
        volumes = volumes_of(ctrs)
        started["volumes"].extend(volumes)
        pods.append({"name": name, "address": POD_NET + str(2 + i), "manifest": pod, "containers": ctrs,
                     "phase": "Running", "role": "shard", "index": i, "volumes": volumes})
    say(f"  {args.shards} pods played in {time.monotonic() - t_shards:.1f} s")
    shared = [v for v in set(started["volumes"]) if started["volumes"].count(v) > 1]
    check.ok(not shared, f"each shard pod has volumes of its own: "
             + "; ".join(f"{p['name']}: {','.join(sorted(p['volumes']))}" for p in pods if p["role"] == "shard"),
             f"shared: {shared}")
    section("differences from a cluster, in this run")
    for n in notes:
        say(f"  - {n}")

    watch(args, pods, sd_file, prom_base, job, deployment, check, t_shards)
    report(args, pods, server_address, work, check)
    say(f"\n  play, run and checks: {time.monotonic() - t_run:.1f} s")


def watch(args, pods, sd_file, prom_base, job, deployment, check, t_shards):
    """Until every shard has exited: keeps the discovery file current, reads
    each container's kernel view once it runs, and asks Prometheus for the
    fleet's devices online."""
    section("run")
    deadline = t_shards + min(job["spec"].get("activeDeadlineSeconds", 10 ** 6), args.duration + 120)
    want = args.shards * args.devices
    seen_views = {}
    cgroups = {}
    best = {"sum(zel_cli_online)": None, "sum(zel_server_logged_in)": None}
    reached = {}
    shards = [p for p in pods if p["role"] == "shard"]
    last_line = 0
    while True:
        for p in pods:
            states = {n: container_state(cid) for n, cid in p["containers"].items()}
            p["states"] = states
            p["phase"] = phase_of(list(states.values()))
            for n, st in states.items():
                if st["Running"] and st.get("Pid"):
                    try:
                        if (p["name"], n) not in seen_views:
                            seen_views[(p["name"], n)] = kernel_view(st["Pid"])
                        # Peak memory only grows: the last reading while it runs is the run's.
                        cgroups[(p["name"], n)] = cgroup_figures(st["Pid"])
                    except OSError:
                        pass
        write_sd(sd_file, pods)
        running = [p for p in shards if p["phase"] in ("Running", "Pending")]
        for query in (q for q in best if q not in reached and running):
            try:
                values = [float(r["value"][1]) for r in prom_query(prom_base, query)]
            except (urllib.error.URLError, OSError, KeyError, ValueError):
                continue
            if values:
                best[query] = values[0] if best[query] is None else max(best[query], values[0])
            if values == [want]:
                reached[query] = time.monotonic() - t_shards
                extra = ""
                if query.startswith("sum(zel_cli"):
                    extra = "; by pod: " + ", ".join(
                        f"{r['metric'].get('pod')}={float(r['value'][1]):.0f}"
                        for r in prom_query(prom_base, "sum(zel_cli_online) by (pod)"))
                say(f"  {reached[query]:5.1f} s  Prometheus: {query} = {want}{extra}")
        now = time.monotonic() - t_shards
        if now - last_line >= 10:
            last_line = now
            say(f"  {now:5.1f} s  " + ", ".join(f"{p['name']}: {p['phase']}" for p in shards))
        if not running:
            break
        if time.monotonic() > deadline:
            check.ok(False, "every shard ended before the deadline",
                     f"still running after {deadline - t_shards:.0f} s: {[p['name'] for p in running]}")
            break
        time.sleep(1)
    say(f"  every shard ended {time.monotonic() - t_shards:.1f} s after the first was played")

    section("checks")
    for query, value in best.items():
        check.ok(query in reached, f"Prometheus saw {query} = {want} (shards x devices) while the shards ran",
                 f"highest value seen: {value}")
    try:
        targets = json.loads(http_get(f"{prom_base}/api/v1/targets?state=any")[1])["data"]
        scraped = sorted({(t["labels"].get("pod"), t["scrapeUrl"]) for t in targets["activeTargets"]}
                         | {(t["discoveredLabels"].get("__meta_kubernetes_pod_name"), "(dropped)")
                            for t in targets["droppedTargets"]})
        say("  Prometheus' targets at the end: " + "; ".join(f"{p} {u}" for p, u in scraped))
    except (urllib.error.URLError, OSError, KeyError, ValueError) as e:
        say(f"  Prometheus' targets could not be read: {e}")
    templates = {"server": deployment["spec"]["template"]}
    for p in pods:
        manifest = p["manifest"] if p["role"] == "shard" else templates["server"]
        for c in manifest["spec"]["containers"]:
            view = seen_views.get((p["name"], c["name"]))
            if check.ok(view is not None, f"{p['name']}/{c['name']}: seen running",
                        "it was never running when looked at"):
                check_security(f"{p['name']}/{c['name']}", manifest, c, view, check)
                check_resources(f"{p['name']}/{c['name']}", c, cgroups.get((p["name"], c["name"])), check)


def report(args, pods, server_address, work, check):
    """Exit statuses, verdicts, ID ranges and the server's counts."""
    ranges = []
    for p in (p for p in pods if p["role"] == "shard"):
        for n, cid in p["containers"].items():
            st = p["states"][n]
            log = podman("logs", cid, check=False)
            text = log.stdout + log.stderr
            with open(os.path.join(work, f"{p['name']}.log"), "w", encoding="utf-8") as f:
                f.write(text)
            verdict = next((l for l in text.splitlines() if l.startswith("result: ")), "no result line")
            say(f"  {p['name']} (index {p['index']}): exit {st['ExitCode']}, {verdict}")
            lines = text.splitlines()
            start = lines.index("== summary ==") + 1 if "== summary ==" in lines else len(lines)
            for l in lines[start:]:
                if not l.startswith("result: "):
                    say(f"      {l}")
            check.ok(st["Status"] == "exited" and st["ExitCode"] == 0, f"{p['name']}: exit status 0",
                     f"{st['Status']}, exit {st['ExitCode']}")
            check.ok(verdict == "result: PASS", f"{p['name']}: result: PASS", verdict)
            dest = os.path.join(work, f"{p['name']}-list.txt")
            res = podman("cp", f"{cid}:/data/list.txt", dest, check=False)
            if not check.ok(res.returncode == 0, f"{p['name']}: /data/list.txt copied out",
                            res.stderr.strip()):
                continue
            # zel-cli ends list.txt with a zero byte; the document is what precedes it.
            with open(dest, encoding="utf-8") as f:
                ids = json.loads(f.read().split("\0", 1)[0]).get("ID") or []
            numbers = sorted(int(m.group(1)) for m in (re.match(r"^.*-(\d+)$", i) for i in ids) if m)
            ok = len(numbers) == len(ids) == args.devices and numbers == list(range(numbers[0], numbers[0] + len(numbers)))
            check.ok(ok, f"{p['name']}: {len(ids)} consecutive IDs "
                     + (f"{ids[0]} ... {ids[-1]}" if ids else ""), f"{len(ids)} IDs, {len(numbers)} numbered")
            if numbers:
                ranges.append((numbers[0], numbers[-1], p["name"], set(ids)))
    ranges.sort()
    overlaps = [(a[2], b[2]) for k, a in enumerate(ranges) for b in ranges[k + 1:] if a[3] & b[3] or b[0] <= a[1]]
    check.ok(len(ranges) == args.shards and not overlaps,
             f"the {len(ranges)} shards' ID ranges do not overlap: "
             + ", ".join(f"{lo}-{hi}" for lo, hi, _, _ in ranges), f"overlapping: {overlaps}")

    server = next(p for p in pods if p["role"] == "server")
    try:
        _, text = http_get(f"http://{server_address}:9400/metrics")
    except (urllib.error.URLError, OSError) as e:
        check.ok(False, "zel-server's metrics read after the run", str(e))
        return
    logins = sum(metric_values(text, "zel_server_logins_total"))
    malformed = sum(metric_values(text, "zel_server_malformed_total"))
    want = args.shards * args.devices
    say(f"  zel-server: zel_server_logins_total {logins:.0f}, zel_server_malformed_total {malformed:.0f}")
    check.ok(logins == want, f"zel-server counted {want} logins (shards x devices)", f"{logins:.0f}")
    check.ok(malformed == 0, "zel-server counted no malformed packet", f"{malformed:.0f}")
    for n, cid in server["containers"].items():
        log = podman("logs", cid, check=False)
        with open(os.path.join(work, f"{server['name']}.log"), "w", encoding="utf-8") as f:
            f.write(log.stdout + log.stderr)
        lines = (log.stdout + log.stderr).strip().splitlines()
        if lines:
            say(f"  zel-server's last log line: {lines[-1]}")
        check.ok(server["states"][n]["Running"], f"{server['name']}/{n} still running after the fleet",
                 server["states"][n]["Status"])
    # What deleting the Deployment does: SIGTERM, then SIGKILL after the grace period.
    grace = server["manifest"]["spec"].get("terminationGracePeriodSeconds", 30)
    t0 = time.monotonic()
    podman("pod", "stop", "-t", str(grace), server["name"], timeout=grace + 60)
    took = time.monotonic() - t0
    for n, cid in server["containers"].items():
        st = container_state(cid)
        check.ok(st["ExitCode"] == 0 and took < grace,
                 f"{server['name']}/{n} stopped by SIGTERM in {took:.1f} s with exit 0 (grace period {grace} s)",
                 f"exit {st['ExitCode']} after {took:.1f} s")


if __name__ == "__main__":
    sys.exit(main())
