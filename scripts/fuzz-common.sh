# Shared by fuzz-smoke.sh and fuzz-campaign.sh (sourced, not run).
# Builds the fuzz targets and the seed corpora in $FUZZ_BUILD_DIR
# (default build-fuzz) and runs one target.

FUZZ_BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"

# libFuzzer options of every run: a hang is an input that runs longer than
# 10 s, a single allocation beyond 256 MB from a file of a few kilobytes is a
# finding, leaks are checked.
FUZZ_OPTIONS=(-timeout=10 -malloc_limit_mb=256 -rss_limit_mb=2048 -print_final_stats=1)

fuzz_build() {
    cmake -S fuzz -B "$FUZZ_BUILD_DIR" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
    cmake --build "$FUZZ_BUILD_DIR" -j"$(nproc)" >/dev/null
    rm -rf "$FUZZ_BUILD_DIR/seeds"
    "$FUZZ_BUILD_DIR/fuzz_makeSeeds" "$FUZZ_BUILD_DIR/seeds" >/dev/null 2>&1
    mkdir -p "$FUZZ_BUILD_DIR/logs" "$FUZZ_BUILD_DIR/artifacts"
}

fuzz_targets() { cat "$FUZZ_BUILD_DIR/targets.txt"; }

# fuzz_run TARGET LOG CORPUS_DIR [libFuzzer options...]: runs the target on
# the corpus directory (new inputs go there) and the seeds, one process, one
# job. Returns libFuzzer's status; crashing inputs go to artifacts/TARGET/.
fuzz_run() {
    local target="$1" log="$2" corpus="$3"
    shift 3
    mkdir -p "$corpus" "$FUZZ_BUILD_DIR/artifacts/$target"
    "$FUZZ_BUILD_DIR/fuzz_$target" "${FUZZ_OPTIONS[@]}" "$@" \
        -artifact_prefix="$FUZZ_BUILD_DIR/artifacts/$target/" \
        "$corpus" "$FUZZ_BUILD_DIR/seeds/$target" >"$log" 2>&1
}

# fuzz_report TARGET LOG STATUS [SUMMARY_FILE]: prints the summary line (and
# appends it to SUMMARY_FILE when given); on a finding also the end of the log,
# and the target joins fuzz_failed.
fuzz_failed=()
fuzz_report() {
    local target="$1" log="$2" status="$3" summaryFile="${4:-/dev/null}"
    fuzz_summary "$target" "$log" "$status" | tee -a "$summaryFile"
    if [ "$status" -ne 0 ]; then
        fuzz_failed+=("$target")
        tail -n 40 "$log"
    fi
}

# fuzz_finish WHAT TARGET_COUNT: the closing line; fails when a target found something.
fuzz_finish() {
    if [ ${#fuzz_failed[@]} -gt 0 ]; then
        echo "$1: findings in ${fuzz_failed[*]}"
        exit 1
    fi
    echo "$1: $2 targets, no finding"
}

# fuzz_summary TARGET LOG STATUS: one line with executions, coverage and time.
fuzz_summary() {
    local target="$1" log="$2" status="$3"
    local runs cov ft secs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-16s %-8s executions=%-9s cov=%-6s ft=%-6s seconds=%s\n' "$target" \
        "$([ "$status" -eq 0 ] && echo ok || echo FINDING)" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${secs:-?}"
}
