#!/usr/bin/env bash
# End to end with a StatusNotifier notification area, the kind KDE Plasma, GNOME's AppIndicator
# extension and most Wayland panels offer: a virtual X display with a window manager but no
# XEmbed tray, and a private session bus with a standalone watcher and a registered host.
#
# The window's class (WM_CLASS) is the desktop entry's StartupWMClass, not the title. Minimised,
# the window hides and the item registers with the watcher; its tip is the title; Activate (a
# left click in a panel) restores the window and takes the item away; the item's menu has the
# four entries, Open first, and its Exit ends the program with the finish banner.
# When the watcher ends while the window is hidden (the notification area has gone), the window
# comes back by itself.
# Then, with a watcher but no host and no XEmbed tray, a minimised window stays minimised
# (departure 7): the program never becomes unreachable.
#
# usage: tray-sni.sh PROGRAM DESKTOP_ENTRY    exit 77 (skipped) when the tools are missing
set -uo pipefail

program=$1
desktop_entry=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xsession.sh"
source "$here/checks.sh"
source "$here/sni.sh"

for tool in Xvfb openbox xdotool xprop xdpyinfo dbus-daemon gdbus status-notifier-watcher od; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d /tmp/orvane-sni.XXXXXX)
orvane_pid=
cleanup() {
    set +e # a process that has already gone must not cut the clean-up short
    [[ -n $orvane_pid ]] && kill -KILL "$orvane_pid" 2>/dev/null && wait "$orvane_pid" 2>/dev/null
    stop_session
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fatal_logs=(orvane.out watcher.log)

cp "$program" "$tmp/orvane" || fatal "copy the program"
# Settings.dat: eventLogOn = 1, a window of 956 x 520 at (40, 40).
printf '\001\000\000\000\000\000\000\000\050\000\000\000\050\000\000\000\344\003\000\000\060\002\000\000\000\000\000\000\000\000\000\000' \
    >"$tmp/Settings.dat"
log=$tmp/Logs.log

mkdir -m 0700 "$tmp/runtime"
export XDG_RUNTIME_DIR=$tmp/runtime
start_session "$tmp" no-tray || fatal "X session without a tray"
start_bus "$tmp" || fatal "private session bus"
start_watcher "$tmp" || fatal "StatusNotifier watcher"
register_host || fatal "StatusNotifier host registered"

start_program() {
    (cd / && exec "$tmp/orvane") >>"$tmp/orvane.out" 2>&1 &
    orvane_pid=$!
}
window_hidden() {
    kill -0 "$orvane_pid" && ! main_window
}
# wm_state WINDOW: Normal, Iconic or Withdrawn, as the window manager keeps it (ICCCM).
wm_state() {
    xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ {print $3}'
}
# program_ended: the program has gone; its exit status in ended_status.
program_ended() {
    kill -0 "$orvane_pid" 2>/dev/null && return 1
    wait "$orvane_pid"
    ended_status=$?
    orvane_pid=
}

# --- With a StatusNotifier host -----------------------------------------------------------
start_program
wait_until 15 main_window || fatal "the main window appears"
win=$(main_window)

wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop_entry")
class=$(xprop -id "$win" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "\([^"]*\)", "\([^"]*\)"$/\2/p')
check "window class is the desktop entry's StartupWMClass ('$class', entry '$wm_class')" \
    test -n "$wm_class" -a "$class" = "$wm_class"
check "window class does not carry the title" bash -c "! xprop -id $win WM_CLASS | grep -qF 'Orvane v'"
check "no tray item while the window is shown" no_sni_item

xdotool windowminimize "$win"
wait_until 10 window_hidden
check "minimised window is hidden" window_hidden
wait_until 10 sni_item
check "the item registers while the window is hidden" sni_item
check "the item's tip is the title" item_tip_is_title
labels=$(menu_labels | sed 's/\\t.*//' | paste -sd '|')
check "the item's menu: Open, Disabled processes, View Event Log, Exit ($labels)" \
    test "$labels" = "Open|Disabled processes|View Event Log|Exit"

item_activate
wait_until 10 main_window
check "Activate restores the window" main_window
wait_until 5 no_sni_item
check "the item leaves the notification area" no_sni_item

# Back to the tray, and out through the item's menu.
if win=$(main_window); then
    xdotool windowminimize "$win"
    wait_until 10 sni_item
    check "minimised again: the item registers" sni_item
    check "the menu's Exit is sent" menu_click Exit
    wait_until 10 program_ended
    check "the menu's Exit ends the program" test -z "$orvane_pid"
    check "exit status 0 (was ${ended_status:-none})" test "${ended_status:-1}" -eq 0
    check "log ends with the finish banner" \
        bash -c "tail -c 300 '$log' | tr -d '\n' | grep -aq $'\rOrvane finished [^\r]* min\\.\r\$'"
    check "exactly one finish banner" test "$(grep -ac 'Orvane finished' "$log")" -eq 1
    check "Settings.dat has 32 bytes" test "$(stat -c %s "$tmp/Settings.dat")" -eq 32
fi
if [[ -n $orvane_pid ]]; then
    kill -TERM "$orvane_pid"
    wait_until 10 program_ended
fi

# --- The notification area goes away while the window is hidden ---------------------------
start_program
wait_until 15 main_window || fatal "the main window appears again"
xdotool windowminimize "$(main_window)"
wait_until 10 sni_item
check "area goes: the item registers while the window is hidden" sni_item
check "area goes: the window is hidden" window_hidden
kill "$watcher_pid"
wait "$watcher_pid" 2>/dev/null
wait_until 15 main_window
check "area goes: the window comes back by itself" main_window
check "area goes: told on stderr" grep -q 'notification area has gone' "$tmp/orvane.out"
kill -TERM "$orvane_pid"
wait_until 10 program_ended
check "area goes: exit status 0 on SIGTERM (was ${ended_status:-none})" test "${ended_status:-1}" -eq 0

# --- A watcher, but no host and no XEmbed tray: minimised stays minimised -----------------
start_watcher "$tmp" || fatal "second watcher, without a host"
start_program
wait_until 15 main_window || fatal "no tray: the main window appears"
win=$(main_window)
xdotool windowminimize "$win"
iconic() { [[ $(wm_state "$1") == Iconic ]]; }
wait_until 10 iconic "$win"
sleep 1 # the program would hide the window at once if it took the minimise for a way to the tray
check "no tray: the minimised window stays minimised (WM_STATE $(wm_state "$win"))" iconic "$win"
check "no tray: no item registered" no_sni_item
check "no tray: still running" kill -0 "$orvane_pid"
xdotool windowactivate "$win" 2>/dev/null
wait_until 10 main_window
check "no tray: the window comes back from the task bar's side" main_window
kill -TERM "$orvane_pid"
wait_until 10 program_ended
check "no tray: exit status 0 on SIGTERM (was ${ended_status:-none})" test "${ended_status:-1}" -eq 0
check "no tray: three finish banners in all" test "$(grep -ac 'Orvane finished' "$log")" -eq 3

finish_checks
