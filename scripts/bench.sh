#!/usr/bin/env bash
# Prints the benchmark table: each operation's time, its ratio to a plain cp of as many bytes,
# its system calls (one more run under strace) and its peak memory. Then find and check over
# folders of 500 and 2,000 images, and, when the window is built, its commands beside the same
# operations of diskwright-cli.
set -euo pipefail
build=${1:-build}
work="$build/bench-work"
mkdir -p "$work"
"$build/bench/diskwright-bench" "$work"
rm -rf "$work"
echo
"$build/bench/diskwright-bench-archive" "$work" "$build/cli/diskwright-cli"
rm -rf "$work"
if [ -x "$build/bench/diskwright-bench-window" ]; then
    echo
    "$build/bench/diskwright-bench-window" "$work"
    rm -rf "$work"
fi
# Image creation from the format dialog beside diskwright-cli create, on a real display when
# there is one (else under Xvfb), so that painting the progress window counts.
create_window="$build/bench/diskwright-bench-create-window"
if [ -x "$create_window" ]; then
    echo
    args=("$create_window" "$work" "$build/cli/diskwright-cli")
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        "${args[@]}"
    elif command -v xvfb-run > /dev/null; then
        xvfb-run -a "${args[@]}"
    else
        QT_QPA_PLATFORM=offscreen "${args[@]}"
    fi
    rm -rf "$work"
fi
