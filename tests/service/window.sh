#!/usr/bin/env bash
# The program itself on the watch service: orvaned as root, the window as an ordinary user with
# a desktop session's soft limit of 1,024 descriptors, on a virtual X display. While it is
# connected, that user runs true 2,000 times: the log has a Started and a Finished line for
# each, the window says once that it watches through the service, and SIGTERM ends it cleanly.
#
#   window.sh BUILD_DIR PROGRAM     exit 77 (skipped) when the X tools are missing
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
source "$here/../e2e/xsession.sh"
for tool in Xvfb openbox xdotool xwininfo xdpyinfo; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
setup "$1"
trap 'stop_session; cleanup' EXIT
runs=2000

app="$tmp/user/app"
as_user mkdir "$app" || fail "cannot make $app"
cp "$2" "$app/orvane" && chmod 0755 "$app/orvane" || fail "cannot copy the program"
# Settings.dat: eventLogOn = 1, everything else 0.
as_user sh -c 'printf "\001" >"$1"; head -c 31 /dev/zero >>"$1"' sh "$app/Settings.dat"
mkdir "$tmp/bin/t" && cp /bin/true "$tmp/bin/t/true"
start_session "$tmp" no-tray || fail "no X session"
start_service

# Not through the as_user function, whose subshell $! would name: the signal is the program's.
setpriv --reuid="$account" --regid="$account" --init-groups -- env ORVANE_SOCKET="$socket" \
    HOME="$tmp/user" bash -c 'ulimit -Sn 1024 && exec "$@"' sh "$app/orvane" >"$tmp/app.out" 2>&1 &
app_pid=$!
extra_pids+=("$app_pid")
wait_until 20 main_window || fail "the main window did not appear: $(cat "$tmp/app.out")"
wait_for_line "$tmp/app.out" "Watching through the service"

as_user sh -c 'i=0; while [ $i -lt "$2" ]; do "$1"; i=$((i + 1)); done' sh "$tmp/bin/t/true" "$runs"
sleep 1.5 # the last exits reach a pass
kill -TERM "$app_pid"
wait_gone 10 "$app_pid" || fail "the program did not end on SIGTERM"
wait "$app_pid" || fail "the program ended with status $?: $(cat "$tmp/app.out")"

# A Started line has one tab more before the name than a Finished line.
lines() { awk -F'\t' -v k="$1 process" '$1 ~ "^" k && ($2 == "true " || $3 == "true ")' "$app/Logs.log" | wc -l; }
started=$(lines Started) finished=$(lines Finished) told=$(grep -c "Watching through the service" "$tmp/app.out")
echo "window on the service: $started Started and $finished Finished lines of $runs runs; told $told times"
((started == runs && finished == runs)) || fail "$started Started and $finished Finished lines, not $runs each"
((told == 1)) || fail "the way of watching was told $told times: $(cat "$tmp/app.out")"
grep -q "does not answer" "$tmp/app.out" && fail "the window fell back to polling: $(cat "$tmp/app.out")"
stop_service
echo "window on the service: OK"
