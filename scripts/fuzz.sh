#!/usr/bin/env bash
# Runs the image fuzzer: scripts/fuzz.sh BUILD_DIR SECONDS. Seeds come from make_seeds; the
# corpus grows in BUILD_DIR/fuzz-corpus, crashes land in BUILD_DIR/fuzz-artifacts. Exits
# non-zero when the fuzzer finds a crash, a hang or a sanitizer report.
set -euo pipefail
build=${1:?usage: scripts/fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-60}
corpus="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
mkdir -p "$corpus" "$artifacts"
"$build/fuzz/make_seeds" "$corpus"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
"$build/fuzz/fuzz_image" -max_total_time="$seconds" -max_len=131072 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus"
