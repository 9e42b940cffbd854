#!/usr/bin/env bash
# The window's monitor on the watch service, run as an ordinary user with a desktop session's
# soft limit of 1,024 descriptors:
#   coverage  2,000 runs of true: each has its row named true with both times, a Started and a
#             Finished line, a Finished line never before its Started one; no pass lists /proc
#   kill      a program on the user's own disabled list, started 100 times: every run killed
#             (SIGKILL), none given a row, no pass lists /proc (so each was killed at its exec);
#             one on the system list, started 5 times: killed by the service, 5 rows with both
#             times
#   switch    two programs start, the service stops while the monitor runs, 10 programs start
#             (half end while it polls), the service starts again: one row per program with
#             both times, one Started and one Finished line each, each change of the way of
#             watching told once
#   ask       as a member of orvane-admin, Kill of a row of root's process goes to the service,
#             which kills it (SIGKILL)
#
#   monitor.sh BUILD_DIR coverage|kill|switch|ask [bpf|connector]
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"
what=$2
source_args=()
[[ -n "${3:-}" ]] && source_args=(--source "$3")

cp "$1/tests/service/orvane_monitor_driver" "$tmp/bin/"
data="$tmp/user/data"
as_user mkdir "$data" || fail "cannot make $data"
told_service="Watching through the service"
told_polling="does not answer"

# start_monitor [shown] [kill=PID]: the driver as the account, on $socket, until $tmp/done
# exists.
start_monitor() {
    "${runner[@]}" env ORVANE_SOCKET="$socket" bash -c 'ulimit -Sn 1024 && exec "$@"' sh \
        "$tmp/bin/orvane_monitor_driver" "$data" "$tmp/done" "$@" >"$tmp/monitor.out" 2>"$tmp/monitor.err" &
    monitor_pid=$!
    extra_pids+=("$monitor_pid")
}
finish_monitor() {
    touch "$tmp/done"
    wait_gone 60 "$monitor_pid"
    wait "$monitor_pid" || fail "the monitor failed: $(cat "$tmp/monitor.err")"
}
# count_lines KIND NAME: the log's Started or Finished lines of NAME (a Started line has one
# tab more before the name).
count_lines() { awk -F'\t' -v k="$1 process" -v n="$2 " '$1 ~ "^" k && ($2 == n || $3 == n)' "$data/Logs.log" | wc -l; }
listed() { awk -F'\t' '$1 == "passes" { print $3 }' "$tmp/monitor.out"; }
runner=(as_user)
told() { grep -c "^notice.*$1" "$tmp/monitor.out"; }

start_service "${source_args[@]}"
case $what in
coverage)
    runs=2000
    mkdir "$tmp/bin/t" && cp /bin/true "$tmp/bin/t/true"
    start_monitor
    wait_for_line "$tmp/monitor.out" "$told_service"
    as_user sh -c 'i=0; while [ $i -lt "$2" ]; do "$1"; i=$((i + 1)); done' sh "$tmp/bin/t/true" "$runs"
    finish_monitor
    ours=$(awk -F'\t' -v p="$tmp/bin/t/true" '$1 == "row" && $3 == "true" && $6 == p && $4 ~ /[0-9]/ && $5 ~ /[0-9]/' "$tmp/monitor.out" | wc -l)
    # Other users' runs of true may be listed too: every row named true must have its lines.
    rows=$(awk -F'\t' '$1 == "row" && $3 == "true"' "$tmp/monitor.out" | wc -l)
    started=$(count_lines Started true)
    finished=$(count_lines Finished true)
    early=$(awk -F'\t' '$1 ~ /^Started/ && $3 == "true " { n++ } $1 ~ /^Finished/ && $2 == "true " { if (--n < 0) bad++ } END { print bad + 0 }' "$data/Logs.log")
    echo "coverage: $ours of $runs runs with both times; $rows rows named true, $started Started and $finished Finished lines"
    ((ours == runs)) || fail "$ours of $runs runs have their row with both times"
    ((started == rows && finished == rows)) || fail "$rows rows named true, $started Started and $finished Finished lines"
    ((early == 0)) || fail "$early Finished lines came before their Started line"
    [[ $(listed) == 0 ]] || fail "$(listed) passes listed /proc while the service answered"
    ;;
kill)
    name="k$RANDOM$RANDOM"
    cp /bin/sleep "$tmp/bin/$name"
    as_user sh -c 'printf "%s|" "$1" >"$2/BlackList.log"' sh "$name" "$data"
    system="z$RANDOM$RANDOM"
    cp /bin/sleep "$tmp/bin/$system"
    printf '%s|' "$system" >"$list.new" && chmod 0644 "$list.new" && mv "$list.new" "$list"
    wait_for_line "$tmp/orvaned.log" '1 disabled program name'
    start_monitor
    wait_for_line "$tmp/monitor.out" "$told_service"
    killed=$(as_user timeout 60 bash -c 'for i in $(seq 100); do "$1" 20 & pids+=($!); done
        n=0; for p in "${pids[@]}"; do wait "$p"; [[ $? == 137 ]] && n=$((n + 1)); done; echo $n' sh "$tmp/bin/$name" 2>/dev/null)
    by_service=$(as_user timeout 60 bash -c 'n=0; for i in 1 2 3 4 5; do "$1" 20; [[ $? == 137 ]] && n=$((n + 1)); done; echo $n' sh "$tmp/bin/$system" 2>/dev/null)
    finish_monitor
    shown=$(awk -F'\t' -v n="$name" '$1 == "row" && $3 == n' "$tmp/monitor.out" | wc -l)
    ended=$(awk -F'\t' -v n="$system" '$1 == "row" && $3 == n && $4 ~ /[0-9]/ && $5 ~ /[0-9]/' "$tmp/monitor.out" | wc -l)
    echo "kill: $killed of 100 runs killed, $shown rows; of the system list's program $by_service of 5 killed, $ended rows"
    [[ $by_service == 5 ]] || fail "the service killed $by_service of 5 runs on its list"
    ((ended == 5)) || fail "$ended rows with both times for 5 runs killed by the service"
    [[ $killed == 100 ]] || fail "only $killed of 100 runs of a disabled program were killed"
    ((shown == 0)) || fail "$shown rows for a disabled program"
    [[ $(listed) == 0 ]] || fail "$(listed) passes listed /proc while the service answered"
    ;;
switch)
    name="s$RANDOM$RANDOM"
    cp /bin/sleep "$tmp/bin/$name"
    start_monitor
    wait_for_line "$tmp/monitor.out" "$told_service"
    # Two rows the service made, handed to polling: one ends while it polls, one outlives it.
    before=$(as_user bash -c '"$1" 3 >/dev/null & echo $!; "$1" 8 >/dev/null & echo $!' sh "$tmp/bin/$name")
    sleep 1
    stop_service
    wait_for_line "$tmp/monitor.out" "$told_polling"
    pids=$(as_user bash -c 'for i in 1 2 3 4 5; do "$1" 1 >/dev/null & echo $!; "$1" 6 >/dev/null & echo $!; done' sh "$tmp/bin/$name")
    pids=$(sort -n <<<"$pids
$before")
    start_service "${source_args[@]}"
    timeout 20 bash -c 'until (($(grep -c "^notice.*$2" "$1") >= 2)); do sleep 0.1; done' sh "$tmp/monitor.out" "$told_service" ||
        fail "the monitor did not come back to the service"
    timeout 40 bash -c 'while pgrep -x "$1" >/dev/null; do sleep 0.2; done' sh "$name"
    sleep 1
    finish_monitor
    rows=$(awk -F'\t' -v n="$name" '$1 == "row" && $3 == n { print $2 }' "$tmp/monitor.out" | sort -n)
    whole=$(awk -F'\t' -v n="$name" '$1 == "row" && $3 == n && $4 ~ /[0-9]/ && $5 ~ /[0-9]/' "$tmp/monitor.out" | wc -l)
    echo "switch: $(wc -w <<<"$rows") rows, $whole with both times; told service $(told "$told_service") times, polling $(told "$told_polling")"
    [[ "$rows" == "$pids" ]] || fail "rows by pid ($(echo $rows)) are not one per program ($(echo $pids))"
    ((whole == 12)) || fail "only $whole of 12 rows have both times"
    [[ $(count_lines Started "$name") == 12 && $(count_lines Finished "$name") == 12 ]] ||
        fail "$(count_lines Started "$name") Started and $(count_lines Finished "$name") Finished lines for 12 programs"
    [[ $(told "$told_service") == 2 && $(told "$told_polling") == 1 ]] || fail "the changes were not told once each"
    ;;
ask)
    getent group orvane-admin >/dev/null || groupadd --system orvane-admin || fail "cannot create orvane-admin"
    runner=(setpriv --reuid="$account" --regid="$account" --groups="$(getent group orvane-admin | cut -d: -f3)" --)
    name="a$RANDOM$RANDOM"
    cp /bin/sleep "$tmp/bin/$name"
    "$tmp/bin/$name" 30 &
    victim=$!
    extra_pids+=("$victim")
    start_monitor kill=$victim
    wait_for_line "$tmp/monitor.out" "$told_service"
    wait_for_line "$tmp/monitor.out" "^killed"
    wait_gone 10 "$victim"
    wait "$victim" 2>/dev/null
    status=$?
    finish_monitor
    echo "ask: root's process ended with status $status"
    ((status == 137)) || fail "root's process was not killed through the service (status $status)"
    ;;
*) fail "no case $what" ;;
esac
stop_service
echo "monitor $what: OK"
