#!/usr/bin/env bash
# Runs the fuzzers for SECONDS in all: scripts/fuzz.sh BUILD_DIR SECONDS. fuzz_image (arbitrary
# bytes as an image, seeded by make_seeds), fuzz_sequence (imports and deletions on an image
# the engine made, then imports, deletions and repairs once it is damaged) and fuzz_records (arbitrary bytes as program files) run side by side when
# there are two processors or more, else one after the other with a share of the time each. Each corpus grows in BUILD_DIR/fuzz-corpus/TARGET, crashes land
# in BUILD_DIR/fuzz-artifacts, each run's output in BUILD_DIR/fuzz-TARGET.log. Prints the inputs
# each ran and their rate; exits non-zero when a fuzzer finds a crash, a hang or a sanitizer
# report.
set -euo pipefail
build=${1:?usage: scripts/fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-60}
artifacts="$build/fuzz-artifacts"
mkdir -p "$build/fuzz-corpus/image" "$build/fuzz-corpus/sequence" "$build/fuzz-corpus/records" \
    "$artifacts"
"$build/fuzz/make_seeds" "$build/fuzz-corpus/image"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

targets=(fuzz_image fuzz_sequence fuzz_records)
declare -A maxLength=([fuzz_image]=131072 [fuzz_sequence]=16384 [fuzz_records]=65536)
side_by_side=$(($(nproc) >= 2))
time=$((side_by_side ? seconds : seconds / ${#targets[@]}))

fuzz() { # TARGET
    "$build/fuzz/$1" -max_total_time="$time" -max_len="${maxLength[$1]}" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$build/fuzz-corpus/${1#fuzz_}" > "$build/fuzz-$1.log" 2>&1
}

declare -A failed=()
if ((side_by_side)); then
    declare -A pids=()
    for t in "${targets[@]}"; do
        fuzz "$t" &
        pids[$t]=$!
    done
    for t in "${targets[@]}"; do
        wait "${pids[$t]}" || failed[$t]=1
    done
else
    for t in "${targets[@]}"; do
        fuzz "$t" || failed[$t]=1
    done
fi

total=0
for t in "${targets[@]}"; do
    log="$build/fuzz-$t.log"
    if [[ -n ${failed[$t]:-} ]]; then
        echo "== $t found a fault (the end of $log):"
        tail -n 80 "$log"
    fi
    inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    total=$((total + ${inputs:-0}))
    echo "$t: ${inputs:-0} inputs, ${rate:-0} a second"
done
echo "All targets: $total inputs"
((${#failed[@]} == 0))
