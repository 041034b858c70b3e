#!/usr/bin/env bash
# Prints the benchmark table: each operation's time and its ratio to a plain cp of as many bytes.
set -euo pipefail
build=${1:-build}
work="$build/bench-work"
mkdir -p "$work"
"$build/bench/diskwright-bench" "$work"
# Image creation from the window beside the command line; the window needs a display.
window_bench="$build/bench/diskwright-bench-window"
if [ -x "$window_bench" ]; then
    echo
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        "$window_bench" "$work" "$build/cli/diskwright-cli"
    elif command -v xvfb-run > /dev/null; then
        xvfb-run -a "$window_bench" "$work" "$build/cli/diskwright-cli"
    else
        QT_QPA_PLATFORM=offscreen "$window_bench" "$work" "$build/cli/diskwright-cli"
    fi
fi
rm -rf "$work"
