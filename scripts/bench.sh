#!/usr/bin/env bash
# Prints the benchmark table: each operation's time and its ratio to a plain cp of as many bytes.
# Then, when the window is built, its commands beside the same operations of diskwright-cli.
set -euo pipefail
build=${1:-build}
work="$build/bench-work"
mkdir -p "$work"
"$build/bench/diskwright-bench" "$work"
rm -rf "$work"
if [ -x "$build/bench/diskwright-bench-window" ]; then
    echo
    "$build/bench/diskwright-bench-window" "$work"
    rm -rf "$work"
fi
