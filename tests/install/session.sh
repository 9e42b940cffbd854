#!/usr/bin/env bash
# Runs inside an X display (xvfb-run): starts the program, waits for its main window, optionally
# presses F1 and waits for the manual to be handed to xdg-open, then ends the program the way a
# session manager would (SIGTERM) and waits for it to exit.
#
#   session.sh PROGRAM OUTDIR [--press-f1 RECORD_FILE]
#
# Writes OUTDIR/window (the window id) and OUTDIR/program.log. Exit 0 when every step worked.
set -euo pipefail
program="$1"
out="$2"
record="${4:-}"
title='Orvane v 1.1 XP'

"$program" >"$out/program.log" 2>&1 &
pid=$!

stop() {
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

wid=""
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || { echo "the program exited before showing a window" >&2; exit 1; }
    wid="$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1 || true)"
    [[ -n "$wid" ]] && break
    sleep 0.2
done
[[ -n "$wid" ]] || { stop; echo "no window named \"$title\" appeared" >&2; exit 1; }
echo "$wid" >"$out/window"
# Let the monitor make its first passes.
sleep 1

if [[ "${3:-}" == "--press-f1" ]]; then
    # Real key events (XTEST) need the keyboard focus; with no window manager, give it ourselves.
    xdotool windowfocus "$wid" 2>/dev/null || true
    sleep 0.3
    xdotool key F1
    echo xtest >"$out/f1-delivery"
    for _ in $(seq 1 50); do
        [[ -s "$record" ]] && break
        sleep 0.1
    done
    if [[ ! -s "$record" ]]; then
        # Some servers keep the focus elsewhere: deliver the key to the window directly.
        xdotool key --window "$wid" F1
        echo sent-event >"$out/f1-delivery"
        for _ in $(seq 1 50); do
            [[ -s "$record" ]] && break
            sleep 0.1
        done
    fi
fi

kill -TERM "$pid"
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    stop
    echo "the program did not exit within 10 s of SIGTERM" >&2
    exit 1
fi
status=0
wait "$pid" || status=$?
echo "$status" >"$out/exit-status"
