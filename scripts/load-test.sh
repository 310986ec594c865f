#!/usr/bin/env bash
# Load test of recognize-server on this machine, over the bundled example (or
# another parameter file, wave and text):
#
#   scripts/load-test.sh [-b BUILD_DIR] [-c CLIENTS] [-s SECONDS] [-p PARAM_FILE] [-w WAVE] [-t TEXT]
#
# Runs bench_serverLoad (20 % invalid requests) against servers it starts on
# free ports at 127.0.0.1: one client on 1 worker (latency); CLIENTS clients
# on 1 and on 2 workers (throughput and its ratio); then 10,100 requests on
# one server (its resident memory after 100 and at the end). Build first, e.g.
#   scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-release clients=4 seconds=10 params=examples/assess.prm
wave=examples/waves/digits-8095439.wav text="eight zero nine five four three nine"
while getopts "b:c:s:p:w:t:" opt; do
  case $opt in
    b) build=$OPTARG ;; c) clients=$OPTARG ;; s) seconds=$OPTARG ;;
    p) params=$OPTARG ;; w) wave=$OPTARG ;; t) text=$OPTARG ;;
    *) sed -n '2,12p' "$0"; exit 1 ;;
  esac
done
for program in recognize-server bench_serverLoad; do
  [ -x "$build/$program" ] || { echo "no $build/$program: build it first"; exit 1; }
done

server_pid="" server_port=""
out=$(mktemp)
stop_server() {
  if [ -n "$server_pid" ]; then kill -TERM "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  server_pid=""
}
trap 'stop_server; rm -f "$out"' EXIT

# start_server WORKERS: a quiet server on a free port; sets server_pid and server_port.
start_server() {
  : >"$out"
  "$build/recognize-server" --quiet --port 0 --threads "$1" "$params" >"$out" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    server_port=$(sed -n 's|^Listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$out")
    [ -n "$server_port" ] && return 0
    kill -0 "$server_pid" 2>/dev/null || { cat "$out"; exit 1; }
    sleep 0.1
  done
  echo "the server did not start"; cat "$out"; exit 1
}

load() {  # load ARGS...: bench_serverLoad against the running server
  "$build/bench_serverLoad" --port "$server_port" --pid "$server_pid" --wave "$wave" --text "$text" "$@"
}
rate() { sed -n 's|.*: \([0-9.]*\) requests/s$|\1|p'; }

echo "== 1 client, 1 worker, ${seconds} s"
start_server 1; load --clients 1 --seconds "$seconds"; stop_server

echo; echo "== $clients clients, 1 worker, ${seconds} s"
start_server 1; one=$(load --clients "$clients" --seconds "$seconds" | tee /dev/stderr | rate); stop_server
echo; echo "== $clients clients, 2 workers, ${seconds} s"
start_server 2; two=$(load --clients "$clients" --seconds "$seconds" | tee /dev/stderr | rate); stop_server
echo "throughput 2 workers / 1 worker: $(awk -v a="$two" -v b="$one" 'BEGIN { printf "%.2f", a / b }')"

echo; echo "== memory: 10,100 requests, RSS after the first 100 and at the end ($clients clients, 2 workers)"
start_server 2
load --clients "$clients" --seconds 600 --requests 10100 --rss-after 100 | grep -E "requests/s|RSS|5xx|status"
stop_server
