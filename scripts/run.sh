#!/usr/bin/env bash
# Opens the window on a fresh copy of the sample disk.
set -euo pipefail
build=${1:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: run it under Xvfb with 'xvfb-run -a make run'."
    exit 1
fi
sample="$build/sample/SAMPLE.dsk"
args=()
if [ -f "$sample" ]; then
    mkdir -p "$build/run"
    cp "$sample" "$build/run/SAMPLE.dsk"
    args=("$build/run/SAMPLE.dsk")
fi
exec "$build/ui/diskwright" "${args[@]}"
