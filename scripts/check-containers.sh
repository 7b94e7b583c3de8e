#!/usr/bin/env bash
# The image and the Kubernetes manifests, run for real with podman on this
# machine (no Docker daemon, no cluster, no container registry needed):
#
#   1. installs podman, runc, mmdebstrap and prometheus from Debian if missing;
#   2. debian:bookworm and debian:bookworm-slim: kept when podman has them,
#      pulled when a registry answers, otherwise made with mmdebstrap from the
#      package sources and apt options this machine's apt uses;
#   3. builds the Dockerfile (podman build, chroot isolation);
#   4. scripts/play-manifests.py plays zel-server.yaml and K pods made from
#      zel-fleet-job.yaml's template, with Debian's Prometheus scraping them,
#      checks the results and removes everything it started.
#
#   bash scripts/check-containers.sh [--shards K] [--devices N] [--duration S]
#                                    [--base auto|make|pull] [--keep-work]
#
# K shards of N devices each (2 and 200 by default), every shard running S
# seconds (60). --base make always makes the base images anew, pull never
# makes them, auto (default) keeps or pulls and makes them only when no
# registry answers. The images stay in podman's storage for the next run.
# Exits non-zero on any failure.
#
# podman runs with a containers.conf of this script's own (CONTAINERS_CONF):
# runc as the runtime whatever the host's default (crun's cgroup set-up fails
# on hosts with hybrid cgroups), cgroupfs, and default ulimits within this
# host's hard limits. Nothing under /etc is changed. The build uses chroot
# isolation, which needs no runtime or cgroups for its RUN steps.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SHARDS=2
DEVICES=200
DURATION=60
BASE=auto
KEEP_WORK=0

usage() { sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; exit "${1:-2}"; }
while [ $# -gt 0 ]; do
  case "$1" in
    --shards) SHARDS="$2"; shift 2 ;;
    --devices) DEVICES="$2"; shift 2 ;;
    --duration) DURATION="$2"; shift 2 ;;
    --base) BASE="$2"; shift 2 ;;
    --keep-work) KEEP_WORK=1; shift ;;
    -h|--help) usage 0 ;;
    *) echo "check-containers: unknown argument $1" >&2; usage ;;
  esac
done
case "$BASE" in auto|make|pull) ;; *) echo "check-containers: --base auto, make or pull" >&2; exit 2 ;; esac
if [ "$(id -u)" != 0 ]; then
  echo "check-containers: run as root (podman's rootful storage, mmdebstrap, apt-get)" >&2
  exit 2
fi

WORK="$(mktemp -d /tmp/zel-containers.XXXXXX)"
cleanup() {
  if [ "$KEEP_WORK" = 1 ]; then echo "work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

T_ALL=$(date +%s.%N)
T_STEP=$T_ALL
step() { T_STEP=$(date +%s.%N); echo; echo "==== $*"; }
took() { printf '==== %s: %.1f s\n' "$1" "$(echo "$(date +%s.%N) - $T_STEP" | bc)"; }

# ---- 1. packages -------------------------------------------------------------
step "packages"
need=()
for p in podman runc mmdebstrap prometheus python3-yaml bc; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}" >/dev/null
fi
echo "podman $(podman --version | awk '{print $3}'), $(runc --version | head -1), mmdebstrap $(mmdebstrap --version | awk '{print $2}'), $(prometheus --version 2>&1 | head -1)"
took packages

# podman's settings for this run, from this host's hard limits.
NOFILE=$(ulimit -Hn); NPROC=$(ulimit -Hu)
[ "$NOFILE" = unlimited ] && NOFILE=1048576
[ "$NPROC" = unlimited ] || [ "$NPROC" -gt 4096 ] && NPROC=4096
cat > "$WORK/containers.conf" <<EOF
[containers]
default_ulimits = ["nofile=$NOFILE:$NOFILE", "nproc=$NPROC:$NPROC"]

[engine]
runtime = "runc"
cgroup_manager = "cgroupfs"
events_logger = "file"
EOF
export CONTAINERS_CONF="$WORK/containers.conf"
echo "CONTAINERS_CONF=$CONTAINERS_CONF: runtime $(podman info --format '{{.Host.OCIRuntime.Name}}'), ulimits nofile=$NOFILE nproc=$NPROC"

# ---- 2. base images ----------------------------------------------------------
step "base images"
make_base() {
  # The Debian sources and the network options (proxies, release file
  # checks) this machine's apt uses; the image's own apt keeps them.
  local sources=() f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -qs bookworm "$f" && sources+=("$f")
  done
  apt-config dump | grep -E '^Acquire::((https?|ftp)::Proxy|Check-Valid-Until|Check-Date|Retries|ForceIPv4)' \
    > "$WORK/apt-options.conf" || true
  echo "mmdebstrap --variant=minbase bookworm from ${sources[*]}; apt options: $(tr '\n' ' ' < "$WORK/apt-options.conf")"
  timeout 1200 mmdebstrap --variant=minbase --aptopt="$WORK/apt-options.conf" \
    bookworm "$WORK/rootfs.tar" "${sources[@]}" > "$WORK/mmdebstrap.log" 2>&1 \
    || { tail -20 "$WORK/mmdebstrap.log"; echo "check-containers: mmdebstrap failed" >&2; exit 1; }
  # The configuration Debian's published images carry. PATH matters: podman
  # run supplies a default when an image has none, podman kube play does not.
  local tag
  for tag in bookworm bookworm-slim; do
    podman image rm -f "localhost/debian:$tag" >/dev/null 2>&1 || true
    podman import --quiet --change 'ENV PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin' \
      --change 'CMD ["bash"]' "$WORK/rootfs.tar" "localhost/debian:$tag" >/dev/null
  done
  rm -f "$WORK/rootfs.tar"
  echo "made debian:bookworm and debian:bookworm-slim ($(podman image inspect --format '{{.Size}}' localhost/debian:bookworm) bytes)"
}
# Kept only with a PATH in their configuration (see make_base).
have_base() {
  local tag
  for tag in bookworm bookworm-slim; do
    podman image inspect --format '{{.Config.Env}}' "debian:$tag" 2>/dev/null | grep -q 'PATH=' || return 1
  done
}
if [ "$BASE" = make ]; then
  make_base
elif have_base; then
  echo "kept: debian:bookworm and debian:bookworm-slim are in podman's storage ($(podman image inspect --format '{{.Created}}' debian:bookworm))"
elif timeout 60 podman pull -q docker.io/library/debian:bookworm >/dev/null 2>"$WORK/pull.log" \
     && timeout 60 podman pull -q docker.io/library/debian:bookworm-slim >/dev/null 2>>"$WORK/pull.log"; then
  echo "pulled debian:bookworm and debian:bookworm-slim"
elif [ "$BASE" = pull ]; then
  cat "$WORK/pull.log" >&2; echo "check-containers: no registry answered" >&2; exit 1
else
  echo "no registry answered ($(tail -1 "$WORK/pull.log")); making them"
  make_base
fi
took "base images"

# ---- 3. image ----------------------------------------------------------------
step "image build (podman build --isolation chroot)"
IMAGE=$(python3 - "$ROOT/deploy/kubernetes/zel-server.yaml" <<'EOF'
import sys, yaml
docs = [d for d in yaml.safe_load_all(open(sys.argv[1])) if d and d.get("kind") == "Deployment"]
print(docs[0]["spec"]["template"]["spec"]["containers"][0]["image"])
EOF
)
echo "image $IMAGE (the name the manifests use), log in $WORK/build.log"
if ! timeout 3600 nice -n 10 podman build --isolation chroot --pull=never -t "$IMAGE" \
      -f "$ROOT/Dockerfile" "$ROOT" > "$WORK/build.log" 2>&1; then
  tail -30 "$WORK/build.log"
  echo "check-containers: the image build failed" >&2
  exit 1
fi
grep -E '^(zel-cli|zel-server|zel-mkframes) ' "$WORK/build.log" | sed 's/^/  /' || true
echo "built $IMAGE: $(podman image inspect --format '{{.Id}} {{.Size}} bytes, user {{.Config.User}}' "$IMAGE")"
took "image build"

# ---- 4. play -----------------------------------------------------------------
step "play the manifests (podman kube play)"
rc=0
timeout $((DURATION + 600)) python3 "$ROOT/scripts/play-manifests.py" --work "$WORK/play" \
  --shards "$SHARDS" --devices "$DEVICES" --duration "$DURATION" || rc=$?
took "play"
printf '\n==== total: %.1f s, exit %d\n' "$(echo "$(date +%s.%N) - $T_ALL" | bc)" "$rc"
exit "$rc"
