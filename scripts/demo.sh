#!/usr/bin/env bash
# The main job: a whole simulator run on this machine. Installs what is
# missing, builds, makes a synthetic frame file, starts the test Register
# Server and a fleet of 200 devices (GPS and alarms on), asks one device for a
# live view and another for a download, shows both sides' statistics for about
# 30 seconds, stops both cleanly and prints a load-test report: what ran, the
# rates both sides measured, and zel-cli's verdict (PASS or FAIL) with its exit
# status. Only the three programs the demo runs are built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
ZEL_TARGETS="zel-cli zel-server zel-mkframes" bash scripts/build.sh build >/dev/null

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp build/bin/zel-cli "$demo/"   # zel-cli keeps its three files beside itself
./build/bin/zel-mkframes synth "$demo/demo.h264" --seconds 10 --fps 25 >/dev/null

mkfifo "$demo/server.in"
./build/bin/zel-server --listen 127.0.0.1:0 --stats 10 --quiet <"$demo/server.in" >"$demo/server.out" 2>"$demo/server.err" &
server=$!
exec 3>"$demo/server.in"
cleanup() { kill "$server" "${cli:-}" 2>/dev/null || true; }
trap cleanup EXIT

port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/server.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "zel-server did not start"; exit 1; }
echo "zel-server listening on 127.0.0.1:$port"

"$demo/zel-cli" -e "set 127.0.0.1:$port $demo/demo.h264" -e "add DEMO 200" \
  -e "option GPS=1 UP=1 AD=1 AS=1 FREQ=10" -e "online" --stats 10 --duration 40 \
  </dev/null >"$demo/cli.out" 2>"$demo/cli.err" &
cli=$!
echo "zel-cli: 200 devices DEMO-0001 ... DEMO-0200 going online"

sleep 6
echo "live DEMO-0001 15" >&3
echo "download DEMO-0002" >&3
echo "asked DEMO-0001 for a live view of channels 0-3 and DEMO-0002 for a download"

for _ in 1 2 3; do
  sleep 10
  echo "-- server: $(grep -E '^[0-9-]+T[0-9:]+Z ' "$demo/server.out" | tail -n 1 | cut -c1-200)"
  echo "-- fleet:  $(grep -E '^[0-9-]+T[0-9:]+Z ' "$demo/cli.out" | tail -n 1 | cut -c1-200)"
done
echo "streams" >&3
sleep 1
cli_status=0
wait "$cli" || cli_status=$?
cli=""
echo "quit" >&3
exec 3>&-
wait "$server"
trap - EXIT

summary=$(grep '^summary ' "$demo/server.out" | tail -n 1)
field() { sed -n "s|.* $1=\([^ ]*\).*|\1|p" <<<"$summary"; }
echo
echo "== load-test report =="
echo "ran:       200 devices, GPS and all alarms every 10 s, for 40 s; one live view, one download"
echo "server:    $(field logins) logins of $(field devices) devices; received keep-alives $(field keepalives), GPS $(field gps), alarms $(field alarms)"
echo "server:    rates over the run: GPS $(field gps/s)/s, alarms $(field alarms/s)/s (expected about 20/s and 80/s)"
echo "media:     streams $(field streams), packets $(field media_packets), bytes $(field bytes)"
grep -E '^s[0-9]+ (live|download)' "$demo/server.out" | tail -n 2 | cut -c1-160 || true
echo "list.txt written: $(test -s "$demo/list.txt" && echo yes || echo no)"
echo
sed -n '/^== summary ==$/,$p' "$demo/cli.out" | sed 's/^== summary ==$/== zel-cli summary ==/'
echo "zel-cli exit status: $cli_status ($( [ "$cli_status" = 0 ] && echo PASS || echo FAIL ))"
echo "(logs in $demo)"
exit "$cli_status"
