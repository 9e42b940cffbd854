#!/usr/bin/env bash
# Takes the pictures of high-resolution screens and of a dark theme for docs/, off screen
# (QT_QPA_PLATFORM=offscreen), with two ordinary programs running so that the list shows
# something besides the machine's own:
#   main-window-2x.png, about-2x.png        at scale 2
#   main-window-1.5x.png, about-1.5x.png    at scale 1.5
#   main-window-dark.png                    with a dark palette
# usage: docs/theme-screenshots.sh THEME_SCREENSHOTS OUTDIR   (not part of the tests; run by hand)
#   THEME_SCREENSHOTS: build/docs/tools/theme_screenshots, the tool that
#   `cmake --build build --target theme_screenshots` builds from docs/tools/
set -euo pipefail

tool=$1
out=$(mkdir -p "$2" && cd "$2" && pwd)

tmp=$(mktemp -d /tmp/orvane-theme-shots.XXXXXX)
extra_pids=()
cleanup() {
    set +e # a process that has already gone must not cut the clean-up short
    for pid in "${extra_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

for name in backup-job mail-sync; do
    cp /bin/sleep "$tmp/$name"
    "$tmp/$name" 600 &
    extra_pids+=($!)
done

mkdir -m 0700 "$tmp/runtime"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/runtime
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_ENABLE_HIGHDPI_SCALING
QT_SCALE_FACTOR=2 "$tool" "$out"
QT_SCALE_FACTOR=1.5 "$tool" "$out"
"$tool" --dark "$out"
