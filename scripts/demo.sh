#!/usr/bin/env bash
# The main job: a whole simulator run on this machine. Installs what is
# missing, builds, makes a synthetic frame file, starts the test Register
# Server and a fleet of 200 devices (GPS and alarms on), asks one device for a
# live view and another for a download, shows both sides' statistics for about
# 30 seconds, stops both cleanly and prints a summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build >/dev/null

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
  echo "-- server: $(grep '^stats ' "$demo/server.out" | tail -n 1)"
  echo "-- fleet:  $(grep -i 'online' "$demo/cli.out" | tail -n 1)"
done
echo "streams" >&3
sleep 1
wait "$cli" || { echo "zel-cli failed"; exit 1; }
cli=""
echo "quit" >&3
exec 3>&-
wait "$server"
trap - EXIT

summary=$(grep '^summary ' "$demo/server.out" | tail -n 1)
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$summary"; }
echo
echo "== summary =="
echo "devices logged in:   $(field logins) logins of $(field devices) devices"
echo "messages received:   keep-alives $(field keepalives), GPS $(field gps), alarms $(field 'alarms')"
echo "media:               streams $(field streams), packets $(field media-packets), bytes $(field bytes)"
grep -E '^s[0-9]+ (live|download)' "$demo/server.out" | tail -n 2 | cut -c1-160 || true
echo "list.txt written:    $(test -s "$demo/list.txt" && echo yes || echo no)"
echo "(logs in $demo)"
