#!/usr/bin/env bash
# Prints the benchmark table: each operation's time, its ratio to a plain cp of as many bytes,
# its system calls (one more run under strace) and its peak memory.
set -euo pipefail
build=${1:-build}
work="$build/bench-work"
mkdir -p "$work"
"$build/bench/diskwright-bench" "$work"
rm -rf "$work"
