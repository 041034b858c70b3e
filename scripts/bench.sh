#!/usr/bin/env bash
# Prints the benchmark table: each operation's time, its ratio to a plain cp of as many bytes,
# its system calls (one more run under strace) and its peak memory. Then find and check over
# folders of 500 and 2,000 images, the start-up of small commands beside cat, and, when the
# window is built, its commands beside the same operations of diskwright-cli.
set -euo pipefail
build=${1:-build}
work="$build/bench-work"
mkdir -p "$work"
"$build/bench/diskwright-bench" "$work"
rm -rf "$work"
echo
"$build/bench/diskwright-bench-archive" "$work" "$build/cli/diskwright-cli"
rm -rf "$work"

# Start-up of a small command: whole processes beside cat of the same image, median of 21 runs.
cli="$build/cli/diskwright-cli"
mkdir -p "$work"
image="$work/startup.dsk"
"$cli" -q create "$image" --tracks 80 --sectors 18 --sides 2
median_ms() {
    local times=() i start
    for i in $(seq 21); do
        start=${EPOCHREALTIME/./}
        "$@" > /dev/null
        times+=($((${EPOCHREALTIME/./} - start)))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 11p | awk '{ printf "%.2f", $1 / 1000 }'
}
base=$(median_ms cat "$image")
echo
printf '%-34s %9s %7s\n' "start-up (80 x 36 image)" "ms" "x cat"
for command in "cat IMAGE" "diskwright-cli --version" "diskwright-cli info IMAGE"; do
    case $command in
    cat*) ms=$base ;;
    *--version) ms=$(median_ms "$cli" --version) ;;
    *) ms=$(median_ms "$cli" info "$image") ;;
    esac
    awk -v c="$command" -v ms="$ms" -v base="$base" 'BEGIN { printf "%-34s %9s %7.2f\n", c, ms, ms / base }'
done
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
