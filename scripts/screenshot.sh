#!/usr/bin/env bash
# Takes docs/screenshot.png: the window on a fresh copy of the sample disk, on a virtual screen,
# with settings of its own so nothing of the user's shows. Needs a build (make build) and the
# Debian packages xvfb, xauth, x11-utils and imagemagick.
#   scripts/screenshot.sh [BUILD-DIR] [OUTPUT.png]
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath "${2:-docs/screenshot.png}")

if [ -z "${DW_SCREENSHOT_DISPLAY:-}" ]; then
    for tool in xvfb-run xwininfo import; do
        if ! command -v "$tool" >/dev/null; then
            echo "screenshot: $tool is missing (apt install xvfb xauth x11-utils imagemagick)" >&2
            exit 1
        fi
    done
    if [ ! -x "$build/ui/diskwright" ] || [ ! -f "$build/sample/SAMPLE.dsk" ]; then
        echo "screenshot: no window program or sample disk in $build; run 'make build' first" >&2
        exit 1
    fi
    DW_SCREENSHOT_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$out"
fi

work=$(mktemp -d)
pid=
# Ends the window and removes the folder; the script's own status stands (the window's, ended
# by the signal, would be 143).
cleanup() {
    local status=$?
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

mkdir -p "$work/config/LarkspurWorkshop" "$work/data" "$work/runtime"
chmod 700 "$work/runtime"
# An editor is set, so the window opens without asking for one.
printf '[Diskwright]\nEditorPath=gedit\n' >"$work/config/LarkspurWorkshop/Diskwright.conf"
cp "$build/sample/SAMPLE.dsk" "$work/SAMPLE.dsk"

cd "$work"
env -u DBUS_SESSION_BUS_ADDRESS HOME="$work" XDG_CONFIG_HOME="$work/config" \
    XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 \
    QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= "$build/ui/diskwright" SAMPLE.dsk &
pid=$!

window=
for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk '/"Diskwright: SAMPLE.dsk"/ { print $1; exit }')
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "screenshot: the window did not appear" >&2
    exit 1
fi
sleep 1 # let it paint
import -window "$window" -strip "png:$out"
echo "Wrote $out"
