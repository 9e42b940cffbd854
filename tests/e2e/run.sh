#!/usr/bin/env bash
# End to end: the built program in a directory of its own, on a virtual X display with a window
# manager and a notification area. It watches a process start and end, hides to the tray,
# opens a dialog from the tray menu and stays in the tray afterwards, comes back with a click,
# also with a dialog open (which comes back on top), and ends on SIGTERM within two seconds,
# leaving the finish banner and a 32-byte Settings.dat. Three more starts: the window comes back
# where it was, "Minimize at start" starts in the tray, and a window in the tray comes back by
# itself when the panel ends.
#
# usage: run.sh PROGRAM [MANUAL]    exit 77 (skipped) when the X tools are missing
set -uo pipefail

program=$1
manual=${2:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xsession.sh"
source "$here/checks.sh"

for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d /tmp/orvane-e2e.XXXXXX)
orvane_pid=
sleep_pid=
cleanup() {
    set +e # a process that has already gone must not cut the clean-up short
    [[ -n $orvane_pid ]] && kill -KILL "$orvane_pid" 2>/dev/null
    [[ -n $sleep_pid ]] && kill -KILL "$sleep_pid" 2>/dev/null
    stop_session
    rm -rf "$tmp"
}
trap cleanup EXIT

cp "$program" "$tmp/orvane" || fatal "copy the program"
[[ -n $manual && -f $manual ]] && cp "$manual" "$tmp/"
# Settings.dat: eventLogOn = 1, everything else 0 (no saved rectangle).
printf '\001\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000' \
    >"$tmp/Settings.dat"

start_session "$tmp" || fatal "X session"

(cd / && exec "$tmp/orvane") >"$tmp/orvane.out" 2>&1 &
orvane_pid=$!
wait_until 15 main_window || fatal "the main window appears"
win=$(main_window)
log=$tmp/Logs.log
check "start banner written" grep -aq $'^\r\\?Orvane started .* min\\.\r$' "$log"

# A process starts and ends under a name nobody else uses.
check_process_lines "e2e-sleep-$$" "$log"

# Minimising hides the window and puts the icon into the notification area.
xdotool windowminimize "$win"
wait_until 10 bash -c "! xdotool search --onlyvisible --name '^Orvane v 1\.1 XP$'"
check "minimised window is hidden" bash -c "! xdotool search --onlyvisible --name '^Orvane v 1\.1 XP$' >/dev/null"
wait_until 10 tray_icon_center
check "tray icon present" tray_icon_center

# from_tray_menu TITLE KEY...: the tray menu's entry that KEYs choose, until the window TITLE
# shows. On a busy machine the menu may not be up when the keys come: Escape, and again.
from_tray_menu() {
    local title=$1 attempt x y
    shift
    for attempt in 1 2 3; do
        read -r x y < <(tray_icon_center) && xdotool mousemove "$x" "$y" click 3
        sleep 0.7
        xdotool key "$@"
        wait_until 5 visible_named "$title" && return 0
        xdotool key Escape
    done
    return 1
}

# A dialog from the tray menu, closed while the window is hidden, leaves the program in the tray.
if tray_icon_center >/dev/null; then
    # Open, Disabled processes, View Event Log.
    if from_tray_menu 'Event Log' Down Down Down Return; then
        dialog=$(xdotool search --onlyvisible --name '^Event Log$' | head -n1)
        xdotool windowactivate --sync "$dialog" key Escape 2>/dev/null ||
            xdotool key --window "$dialog" Escape
        wait_until 10 bash -c "! xdotool search --onlyvisible --name '^Event Log$'"
        check "event log dialog closed" bash -c "! xdotool search --onlyvisible --name '^Event Log$' >/dev/null"
        sleep 0.5
        check "still running after the dialog closed" kill -0 "$orvane_pid"
        check "still in the tray after the dialog closed" tray_icon_center
        check "window still hidden" bash -c "! xdotool search --onlyvisible --name '^Orvane v 1\.1 XP$' >/dev/null"
    else
        check "event log dialog opened from the tray menu" false
        xdotool key Escape
    fi
fi

# A left click on the icon brings the window back, above the others.
if read -r x y < <(tray_icon_center); then
    xdotool mousemove "$x" "$y" click 1
fi
wait_until 10 main_window
check "window restored by a click on the icon" main_window
check "icon gone after restore" bash -c "$(declare -f tray_panel tray_icon_center); ! tray_icon_center"
if win=$(main_window); then
    check "restored window stays on top" bash -c "xprop -id $win _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE"
fi

# dialog_on_top TITLE: the window is shown with the dialog TITLE above it, active.
dialog_on_top() {
    local dialog
    dialog=$(visible_named "$1") && main_window && is_active "$dialog" &&
        stacked_above "$dialog" "$(main_window)"
}
# back_from_tray TITLE WHAT: with the dialog TITLE open, the window goes to the tray (unless it
# is there); a click on the icon brings it back with the dialog on top.
back_from_tray() {
    local x y
    main_window >/dev/null && xdotool windowminimize "$(main_window)"
    wait_until 10 bash -c "$(declare -f main_window); ! main_window"
    read -r x y < <(tray_icon_center) && xdotool mousemove "$x" "$y" click 1
    wait_until 10 dialog_on_top "$1"
    check "$2: back, the dialog above the window and active" dialog_on_top "$1"
}

# With a dialog open the window goes to the tray and comes back with the dialog on top, twice
# (the second time as a new native window, its stay-on-top state written again); and so does a
# dialog opened from the tray menu.
xdotool windowactivate --sync "$(main_window)" key ctrl+l
wait_until 10 visible_named 'Event Log'
back_from_tray 'Event Log' "event log open"
back_from_tray 'Event Log' "event log open, again"
xdotool key Escape
xdotool windowminimize "$(main_window)"
wait_until 10 tray_icon_center
from_tray_menu "Disabled processes's list" Down Down Return # Open, Disabled processes
back_from_tray "Disabled processes's list" "disabled list from the tray menu"
xdotool key Escape

# SIGTERM runs the close procedure: the program ends within two seconds.
kill -TERM "$orvane_pid"
ended=no
for _ in $(seq 40); do
    if ! kill -0 "$orvane_pid" 2>/dev/null; then
        ended=yes
        break
    fi
    sleep 0.05
done
check "ends within 2 s of SIGTERM" test "$ended" = yes
wait "$orvane_pid"
status=$?
orvane_pid=
check "exit status 0 (was $status)" test "$status" -eq 0

check "log ends with the finish banner" \
    bash -c "tail -c 300 '$log' | tr -d '\n' | grep -aq $'\rOrvane finished [^\r]* min\\.\r\$'"
check "exactly one finish banner" test "$(grep -ac 'Orvane finished' "$log")" -eq 1
check "Settings.dat has 32 bytes" test "$(stat -c %s "$tmp/Settings.dat")" -eq 32
check "eventLogOn is still 1" test "$(od -An -tu4 -N4 "$tmp/Settings.dat" | tr -d ' ')" = 1
read -r _ _ left top right bottom maximized _ < <(od -An -v -td4 -w32 "$tmp/Settings.dat")
check "window rectangle stored ($left $top $right $bottom, maximised $maximized)" \
    test $((right - left)) -gt 0 -a $((bottom - top)) -gt 0 -a "$maximized" -eq 0

# A second start puts the window where the first one left it: closing again stores the same
# rectangle (the outer one, window frame included, does not creep).
(cd / && exec "$tmp/orvane") >>"$tmp/orvane.out" 2>&1 &
orvane_pid=$!
if wait_until 15 main_window; then
    sleep 1.5
    kill -TERM "$orvane_pid"
    wait "$orvane_pid"
    orvane_pid=
    read -r _ _ left2 top2 right2 bottom2 maximized2 _ < <(od -An -v -td4 -w32 "$tmp/Settings.dat")
    check "same rectangle after a restart ($left2 $top2 $right2 $bottom2)" \
        test "$left2 $top2 $right2 $bottom2 $maximized2" = "$left $top $right $bottom $maximized"
else
    check "second start shows the window" false
fi

# With "Minimize at start" set the program starts in the notification area, no window shown;
# ending it from there keeps the rectangle it loaded.
printf '\001' | dd of="$tmp/Settings.dat" bs=1 seek=28 conv=notrunc status=none
(cd / && exec "$tmp/orvane") >>"$tmp/orvane.out" 2>&1 &
orvane_pid=$!
wait_until 15 tray_icon_center
check "minimize at start: icon in the tray" tray_icon_center
check "minimize at start: no window shown" bash -c "! xdotool search --onlyvisible --name '^Orvane v 1\.1 XP$' >/dev/null"
kill -TERM "$orvane_pid"
wait "$orvane_pid"
orvane_pid=
read -r _ _ left3 top3 right3 bottom3 maximized3 minimize3 < <(od -An -v -td4 -w32 "$tmp/Settings.dat")
check "minimize at start: rectangle kept, switch kept" \
    test "$left3 $top3 $right3 $bottom3 $maximized3 $minimize3" = "$left $top $right $bottom $maximized 1"

# The panel ends while the window is in the tray: the window comes back by itself.
(cd / && exec "$tmp/orvane") >>"$tmp/orvane.out" 2>&1 &
orvane_pid=$!
wait_until 15 tray_icon_center
kill "$tray_pid"
wait_until 10 main_window
check "panel ends: the window comes back, and says why" \
    bash -c "$(declare -f main_window); main_window && grep -q 'notification area has gone' '$tmp/orvane.out'"
kill -TERM "$orvane_pid"
wait "$orvane_pid"
orvane_pid=

finish_checks
