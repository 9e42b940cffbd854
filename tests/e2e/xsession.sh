# Shared by run.sh and docs/screenshots.sh: a virtual X display with a window manager and a
# notification area, and small waiting helpers. Everything started here is remembered by pid
# and stopped by pid in stop_session.

started_pids=()
# The program must reach the X display, whatever platform the calling shell chose for Qt, even
# when the tests are started from a Wayland desktop.
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export XDG_SESSION_TYPE=x11

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails after SECONDS.
wait_until() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || { echo "note: gave up after $limit s waiting for: $*" >&2; return 1; }
        sleep 0.1
    done
}

# start_session DIR [no-tray]: Xvfb on a display it picks itself (-displayfd), openbox and,
# unless "no-tray" is given, trayer (its pid in tray_pid). Sets DISPLAY.
start_session() {
    local dir=$1 tray=${2:-tray}
    # Nor may it reach the caller's session bus, whose StatusNotifier host would take its icon
    # away from this display's tray (a bus that is not there; start_bus offers one of its own).
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-session-bus"
    : >"$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" \
        >"$dir/xvfb.log" 2>&1 &
    started_pids+=($!)
    wait_until 30 test -s "$dir/display" || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -n1 "$dir/display")"
    wait_until 30 xdpyinfo || { echo "display $DISPLAY not reachable" >&2; return 1; }
    # The panel docks with the window manager: it starts once openbox has announced itself. A
    # window manager that has not announced itself in ten seconds is started again (three
    # times at most), as the panel is below.
    local attempt
    for attempt in 1 2 3; do
        openbox >>"$dir/openbox.log" 2>&1 &
        started_pids+=($!)
        wait_until 10 window_manager_running && break
        kill "$!" 2>/dev/null
        echo "openbox attempt $attempt did not come up" >>"$dir/openbox.log"
    done
    window_manager_running || { echo "openbox did not come up" >&2; cat "$dir/openbox.log" >&2; return 1; }
    if [[ $tray == no-tray ]]; then
        sleep 0.5
        return 0
    fi
    # A panel that gave up at start (it sometimes does while the display is still busy) is
    # started again, three times at most.
    for attempt in 1 2 3; do
        trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true \
            --transparent false --tint 0xc0c0c0 >>"$dir/trayer.log" 2>&1 &
        tray_pid=$!
        started_pids+=($!)
        wait_until 10 tray_panel && break
        kill "$!" 2>/dev/null
        echo "trayer attempt $attempt did not come up" >>"$dir/trayer.log"
    done
    tray_panel >/dev/null || { echo "trayer did not come up" >&2; cat "$dir/trayer.log" >&2; return 1; }
    # Let the window manager settle before the program maps its window.
    sleep 0.5
}

stop_session() {
    local i
    for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
        kill "${started_pids[$i]}" 2>/dev/null || true
        wait "${started_pids[$i]}" 2>/dev/null || true
    done
    started_pids=()
}

# A window manager has announced itself on the root window (EWMH).
window_manager_running() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# The notification area's panel window (trayer's).
tray_panel() {
    local id
    id=$(xdotool search --classname '^panel$' 2>/dev/null | head -n1)
    [[ -n $id ]] && echo "$id"
}

# The program's visible main window, if any.
main_window() {
    local id
    id=$(xdotool search --onlyvisible --name '^Orvane v 1\.1 XP$' 2>/dev/null | head -n1)
    [[ -n $id ]] && echo "$id"
}

# visible_named TITLE: the visible window whose title is exactly TITLE; is_active WINDOW: it
# has the focus; stacked_above A B: the window manager stacks A above B.
visible_named() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .
}
is_active() {
    [[ $(xdotool getactivewindow 2>/dev/null) == "$1" ]]
}
stacked_above() {
    local w i=0 a=0 b=0
    for w in $(xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null | grep -o '0x[0-9a-f]*'); do
        i=$((i + 1))
        ((w == $1)) && a=$i
        ((w == $2)) && b=$i
    done
    ((b > 0 && a > b))
}

# "X Y" of the middle of the program's icon in the notification area, if it is shown there (the
# icon's window carries the program's window class, "Orvane").
tray_icon_center() {
    local panel id size abs
    panel=$(tray_panel) || return 1
    while read -r id size abs; do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        size=${size%%+*}
        abs=${abs#+}
        echo "$((${abs%%+*} + ${size%x*} / 2)) $((${abs#*+} + ${size#*x} / 2))"
        return 0
    done < <(xwininfo -tree -id "$panel" 2>/dev/null | awk '
        /\("[^"]*" "Orvane"\)/ {
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+$/) size = $i
                if ($i ~ /^\+-?[0-9]+\+-?[0-9]+$/) abs = $i
            }
            if (size !~ /^1x1\+/) print $1, size, abs
        }')
    return 1
}
