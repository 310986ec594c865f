#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every target briefly from its seed
# corpus: fuzz-smoke.sh [seconds per target, default 20] [target...]
# Fails when any target finds something; the input is kept under
# build-fuzz/artifacts/<target>/ and the log under build-fuzz/logs/.
# The mutations start from a fixed random seed (FUZZ_SEED, default 1) so
# that a run repeats what the previous one tried, give or take the inputs a
# slower or faster machine reaches within the time.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-common.sh
seconds="${1:-20}"
shift || true
fuzz_build
targets=("$@")
[ ${#targets[@]} -eq 0 ] && mapfile -t targets < <(fuzz_targets)

for target in "${targets[@]}"; do
    log="$FUZZ_BUILD_DIR/logs/$target.smoke.log"
    corpus=$(mktemp -d)
    status=0
    fuzz_run "$target" "$log" "$corpus" -max_total_time="$seconds" -seed="${FUZZ_SEED:-1}" || status=$?
    rm -rf "$corpus"
    fuzz_report "$target" "$log" "$status"
done
fuzz_finish "fuzz smoke" ${#targets[@]}
