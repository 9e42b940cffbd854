#!/usr/bin/env bash
# Takes the manual's pictures of the running program on a virtual X display:
#   main-window.png   the main window with the processes of this machine
#   process-menu.png  the Process menu as the list's right-click menu
#   tray-menu.png     the tray icon's menu
# usage: docs/screenshots.sh PROGRAM OUTDIR   (not part of the tests; run by hand)
set -euo pipefail

program=$1
out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../tests/e2e/xsession.sh"

tmp=$(mktemp -d /tmp/orvane-shots.XXXXXX)
orvane_pid=
extra_pids=()
cleanup() {
    set +e # a process that has already gone must not cut the clean-up short
    [[ -n $orvane_pid ]] && kill -TERM "$orvane_pid" 2>/dev/null && wait "$orvane_pid" 2>/dev/null
    for pid in "${extra_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    stop_session
    rm -rf "$tmp"
}
trap cleanup EXIT

# Settings.dat: logging on and a window of 940 x 520 at (40, 40).
printf '\001\000\000\000\000\000\000\000\050\000\000\000\050\000\000\000\344\003\000\000\060\002\000\000\000\000\000\000\000\000\000\000' \
    >"$tmp/Settings.dat"
cp "$program" "$tmp/orvane"

start_session "$tmp"

# A few ordinary programs, so that the list shows something besides the machine's own.
for name in backup-job mail-sync; do
    cp /bin/sleep "$tmp/$name"
    "$tmp/$name" 600 &
    extra_pids+=($!)
done

(cd / && exec "$tmp/orvane") >"$tmp/orvane.out" 2>&1 &
orvane_pid=$!
wait_until 15 main_window
win=$(main_window)
# One finished row for the picture.
kill -TERM "${extra_pids[1]}"
sleep 3

# The outer rectangle of the main window (its frame's window), with a margin around it.
frame_rect() {
    local id=$1 frame
    frame=$(xwininfo -id "$id" -children | awk '/Parent window id/ {print $4}')
    [[ $frame == "$(xwininfo -root | awk '/Window id/ {print $4}')" ]] && frame=$id
    xwininfo -id "$frame" | awk '
        /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /Width:/ {w = $2} /Height:/ {h = $2}
        END {printf "%dx%d+%d+%d\n", w + 16, h + 16, (x > 8 ? x - 8 : 0), (y > 8 ? y - 8 : 0)}'
}

shot() { # shot NAME GEOMETRY
    import -window root "$tmp/root.png"
    convert "$tmp/root.png" -crop "$2" +repage "$out/$1"
    echo "$out/$1"
}

# The first rows, one of them selected.
xdotool mousemove --window "$win" 200 150 click 1
sleep 0.5
shot main-window.png "$(frame_rect "$win")"

# The Process menu as the list's right-click menu.
xdotool mousemove --window "$win" 220 170 click 3
sleep 0.8
shot process-menu.png "$(frame_rect "$win")"
xdotool key Escape
sleep 0.3

# The tray menu, with the window in the tray.
xdotool windowminimize "$win"
wait_until 10 tray_icon_center
read -r x y < <(tray_icon_center)
xdotool mousemove "$x" "$y" click 3
sleep 0.8
shot tray-menu.png 300x180+724+588
xdotool key Escape
