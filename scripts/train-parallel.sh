#!/usr/bin/env bash
# Trains a model set pass by pass, the statistics of every pass gathered in
# shards of the training list by GNU parallel: on this machine, or over ssh
# on hosts that share this file system (the same paths everywhere).
#
#   scripts/train-parallel.sh [options] -- TRAIN_OPTIONS trainList OUT.mac
#
#   -n shards     shards of the list per pass (default: jobs times hosts)
#   -j jobs       jobs at a time on each host (default: the cores here)
#   -t threads    threads of each job (recognize-tool train -j; default 1)
#   -S sshlogin   a host for GNU parallel's --sshlogin; repeatable, ":" is
#                 this machine (default: this machine only)
#   -w workdir    where accumulators, logs and the sets between passes go
#                 (default: a new directory next to OUT.mac, removed at the end)
#   -T tool       the recognize-tool program (default: $RECOGNIZE_TOOL, else
#                 build/recognize-tool of this checkout, else the one on PATH)
#   -k            keep the work directory and every pass's files
#
# TRAIN_OPTIONS are those of `recognize-tool train` (-C and -L at least, -m,
# -i, -c, ...); every step gets the same ones. The result is the model set
# and count file that `recognize-tool train TRAIN_OPTIONS trainList OUT.mac`
# writes, to the byte. Exit status: 0 when trained, 1 when a step failed
# (its log is shown), 2 for a usage error.
set -euo pipefail

usage() {
  sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}

shards="" jobs="" threads=1 work="" tool="${RECOGNIZE_TOOL:-}" keep=0
logins=()
while getopts "n:j:t:S:w:T:kh" opt; do
  case $opt in
    n) shards=$OPTARG ;;
    j) jobs=$OPTARG ;;
    t) threads=$OPTARG ;;
    S) logins+=("$OPTARG") ;;
    w) work=$OPTARG ;;
    T) tool=$OPTARG ;;
    k) keep=1 ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || usage
for n in "${shards:-1}" "${jobs:-1}" "$threads"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "Not a positive count: $n" >&2; usage; }
done
command -v parallel >/dev/null || { echo "GNU parallel is not installed (Debian: apt-get install parallel)" >&2; exit 1; }

list=${*: -2:1}
out=${*: -1}
opts=("${@:1:$#-2}")

if [ -z "$tool" ]; then
  checkout=$(cd "$(dirname "$0")/.." && pwd)
  if [ -x "$checkout/build/recognize-tool" ]; then tool=$checkout/build/recognize-tool
  else tool=$(command -v recognize-tool || true)
  fi
fi
[ -n "$tool" ] && [ -x "$tool" ] || { echo "No recognize-tool program found; give one with -T" >&2; exit 1; }
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")

jobs=${jobs:-$(nproc)}
hosts=${#logins[@]}
[ "$hosts" -gt 0 ] || hosts=1
shards=${shards:-$((jobs * hosts))}

created=0
if [ -z "$work" ]; then
  work=$(mktemp -d "${out%.*}.train.XXXXXX")
  created=1
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
cleanup() { if [ "$keep" -eq 0 ] && [ "$created" -eq 1 ]; then rm -rf "$work"; fi; }
trap cleanup EXIT

parallelOpts=(--will-cite -j "$jobs" --halt now,fail=1)
for login in "${logins[@]}"; do parallelOpts+=(--sshlogin "$login"); done

passes=$("$tool" train "${opts[@]}" --passes "$list") || exit 1
echo "Training in $passes passes over $shards shards ($jobs jobs per host on $hosts host(s)); work in $work"

in=-
for ((pass = 0; pass <= passes; pass++)); do
  start=$SECONDS
  # Each job runs in this directory (relative paths of the list and the
  # options stay valid on every host) with its lines in a log of its own,
  # shown when it fails.
  if ! parallel "${parallelOpts[@]}" -q sh -c \
      'cd "$0" && log=$1 && shift && "$@" >"$log" 2>&1 || { cat "$log"; exit 1; }' \
      "$PWD" "$work/log.$pass.{}" \
      "$tool" train "${opts[@]}" -j "$threads" --quiet --accumulate "{}/$shards" --pass "$pass" \
      "$list" "$in" "$work/acc.$pass.{}" ::: $(seq 1 "$shards"); then
    echo "Pass $pass: a shard failed; its log is above (all logs in $work)" >&2
    keep=1
    exit 1
  fi
  accs=()
  for ((k = 1; k <= shards; k++)); do accs+=("$work/acc.$pass.$k"); done
  if [ "$pass" -lt "$passes" ]; then next=$work/models.$((pass + 1)).macb; else next=$out; fi
  if ! "$tool" train "${opts[@]}" --quiet --merge "$list" "$in" "${accs[@]}" "$next" >"$work/merge.$pass.log" 2>&1; then
    cat "$work/merge.$pass.log" >&2
    keep=1
    exit 1
  fi
  # The merge's own lines: the flat start, the pass result, a new stage.
  grep -E 'Flat start|average log likelihood|Cloned|occur in no transcript|Warning' "$work/merge.$pass.log" || true
  grep -h 'Warning' "$work"/log."$pass".* 2>/dev/null | sort -u || true
  echo "  pass $pass of $passes: $((SECONDS - start)) s"
  if [ "$keep" -eq 0 ]; then
    rm -f "${accs[@]}" "$work"/log."$pass".*
    [ "$in" = "-" ] || rm -f "$in"
  fi
  in=$next
done
grep -E '===> Saved' "$work/merge.$passes.log" || true
