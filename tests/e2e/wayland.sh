#!/usr/bin/env bash
# End to end on Wayland: the built program in a directory of its own under a headless weston,
# with a private session bus that carries a StatusNotifier watcher and a registered host (the
# notification area of a Wayland desktop). Weston offers no input injection, so the run is
# driven through signals, the bus and the files; `weston-debug scene-graph` tells which windows
# the compositor shows.
#
# First start: the program comes up on Qt's Wayland plugin (not X, which is not even offered),
# its window is shown under the title and the app id of the desktop entry, it logs a uniquely
# named child, and ends on SIGTERM with its banner and a 32-byte Settings.dat that keeps the
# rectangle it was given (Wayland reports no position: the saved one stays as it was).
# Second start, "Minimize at start": no window, the item sits in the notification area with the
# title as its tip; Activate brings the window back; SIGTERM again keeps the rectangle.
#
# usage: wayland.sh PROGRAM    exit 77 (skipped) when weston or the D-Bus tools are missing
set -uo pipefail

program=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xsession.sh"
source "$here/checks.sh"
source "$here/sni.sh"

for tool in weston weston-debug dbus-daemon gdbus status-notifier-watcher ldd od; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# Qt's Wayland plugin beside the Qt the program links (qt6-wayland).
qtlib=$(ldd "$program" | awk '/libQt6Core\.so/ {print $3; exit}')
plugin=$(dirname "$qtlib")/qt6/plugins/platforms/libqwayland-generic.so
[[ -f $plugin ]] || { echo "SKIP: Qt's Wayland plugin ($plugin) is not installed"; exit 77; }

tmp=$(mktemp -d /tmp/orvane-wayland.XXXXXX)
orvane_pid=
sleep_pid=
cleanup() {
    set +e # a process that has already gone must not cut the clean-up short
    [[ -n $orvane_pid ]] && kill -KILL "$orvane_pid" 2>/dev/null && wait "$orvane_pid" 2>/dev/null
    [[ -n $sleep_pid ]] && kill -KILL "$sleep_pid" 2>/dev/null && wait "$sleep_pid" 2>/dev/null
    stop_session
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fatal_logs=(orvane.out weston.log watcher.log)

# A Wayland session of its own: the runtime directory weston puts its socket in, no X display.
mkdir -m 0700 "$tmp/runtime"
export XDG_RUNTIME_DIR=$tmp/runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=orvane-test
unset DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP

start_bus "$tmp" || fatal "private session bus"
start_watcher "$tmp" || fatal "StatusNotifier watcher"
register_host || fatal "StatusNotifier host registered"

weston --backend=headless-backend.so --use-pixman --debug --idle-time=0 \
    --socket="$WAYLAND_DISPLAY" --width=1024 --height=768 >"$tmp/weston.log" 2>&1 &
started_pids+=($!)
wait_until 15 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || fatal "weston starts"
wait_until 10 weston-debug scene-graph || fatal "weston answers weston-debug"

# shown_window: the program's top-level window as the compositor lists it.
shown_window() {
    weston-debug scene-graph 2>/dev/null | grep -F "PID $orvane_pid," | grep -F "top-level window"
}
window_shown() {
    shown_window | grep -qF "top-level window 'Orvane v 1.1 XP' of org.orvane.Orvane"
}
window_not_shown() {
    kill -0 "$orvane_pid" && ! shown_window
}

cp "$program" "$tmp/orvane" || fatal "copy the program"
# Settings.dat: eventLogOn = 1, a window of 956 x 520 at (40, 40), not maximised, minimise at
# start off.
rect="40 40 996 560"
printf '\001\000\000\000\000\000\000\000\050\000\000\000\050\000\000\000\344\003\000\000\060\002\000\000\000\000\000\000\000\000\000\000' \
    >"$tmp/Settings.dat"
log=$tmp/Logs.log

start_program() {
    (cd / && exec "$tmp/orvane") >>"$tmp/orvane.out" 2>&1 &
    orvane_pid=$!
}

# stop_program WHEN: SIGTERM, then the exit status, the banner and the saved rectangle.
stop_program() {
    local when=$1 status
    kill -TERM "$orvane_pid"
    wait_until 10 bash -c "! kill -0 $orvane_pid"
    wait "$orvane_pid"
    status=$?
    orvane_pid=
    check "$when: exit status 0 on SIGTERM (was $status)" test "$status" -eq 0
    check "$when: log ends with the finish banner" \
        bash -c "tail -c 300 '$log' | tr -d '\n' | grep -aq $'\rOrvane finished [^\r]* min\\.\r\$'"
    check "$when: Settings.dat has 32 bytes" test "$(stat -c %s "$tmp/Settings.dat")" -eq 32
    read -r _ _ left top right bottom maximized minimize < <(od -An -v -td4 -w32 "$tmp/Settings.dat")
    check "$when: saved position is the one given ($left $top, was ${rect% * *})" \
        test "$left $top" = "${rect% * *}"
    check "$when: saved rectangle is the one given ($left $top $right $bottom, was $rect)" \
        test "$left $top $right $bottom" = "$rect"
    check "$when: not maximised ($maximized)" test "$maximized" -eq 0
    saved_minimize=$minimize
}

# --- First start: shown on Wayland --------------------------------------------------------
start_program
wait_until 15 window_shown || fatal "the main window is shown by the compositor"
check "window shown with the title and the app id org.orvane.Orvane" window_shown
check "runs on Qt's Wayland plugin" grep -q 'libqwayland-generic\.so' "/proc/$orvane_pid/maps"
check "the X11 plugin is not loaded" bash -c "! grep -q 'libqxcb\.so' /proc/$orvane_pid/maps"
check "start banner written" grep -aq $'^\r\\?Orvane started .* min\\.\r$' "$log"
check "no tray item while the window is shown" no_sni_item

# A process starts and ends under a name nobody else uses.
check_process_lines "e2e-wl-sleep-$$" "$log"

stop_program "first start"
check "first start: minimise at start still off" test "$saved_minimize" -eq 0
check "exactly one finish banner" test "$(grep -ac 'Orvane finished' "$log")" -eq 1

# --- Second start: in the notification area, back with Activate ---------------------------
printf '\001' | dd of="$tmp/Settings.dat" bs=1 seek=28 conv=notrunc status=none
start_program
wait_until 15 sni_item || fatal "minimize at start: the item registers with the watcher"
sleep 0.5
check "minimize at start: no window shown" window_not_shown
check "minimize at start: the item's tip is the title" item_tip_is_title
check "minimize at start: the item's menu opens with Open" menu_opens_with_open
item_activate
wait_until 10 window_shown
check "Activate brings the window back" window_shown
wait_until 5 no_sni_item
check "the item leaves the notification area" no_sni_item

stop_program "after the tray"
check "after the tray: minimise at start still on" test "$saved_minimize" -eq 1
check "two finish banners in all" test "$(grep -ac 'Orvane finished' "$log")" -eq 2

finish_checks
