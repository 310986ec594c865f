#!/usr/bin/env bash
# The long fuzz campaign: every target in turn, one process on one core,
# until it has run the given number of executions or for the given minutes,
# whichever comes first: fuzz-campaign.sh [executions, default 1000000]
# [minutes per target, default 30] [target...]
# Each target keeps its corpus in build-fuzz/corpus/<target> between
# campaigns. The summary (executions, coverage, features) is printed and
# appended to build-fuzz/campaign-summary.txt; the run goes on after a
# finding and fails at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh
runs="${1:-1000000}"
minutes="${2:-30}"
shift 2 || shift $# || true
fuzz_build
targets=("$@")
[ ${#targets[@]} -eq 0 ] && mapfile -t targets < <(fuzz_targets)

summary="$FUZZ_BUILD_DIR/campaign-summary.txt"
echo "# campaign $(date '+%Y-%m-%d %H:%M:%S'): $runs executions or $minutes min per target" >>"$summary"
for target in "${targets[@]}"; do
    log="$FUZZ_BUILD_DIR/logs/$target.campaign.log"
    status=0
    fuzz_run "$target" "$log" "$FUZZ_BUILD_DIR/corpus/$target" \
        -runs="$runs" -max_total_time=$((minutes * 60)) || status=$?
    fuzz_report "$target" "$log" "$status" "$summary"
done
fuzz_finish "fuzz campaign" ${#targets[@]}
