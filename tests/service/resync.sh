#!/usr/bin/env bash
# A client that falls behind is told to resync and ends with the table /proc shows, while a
# second client misses nothing; a forced loss of kernel events (a tiny buffer, the service
# stopped while processes come and go) ends the same way for every client.
#
#   resync.sh BUILD_DIR bpf|connector
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"
source_kind=$2

# run_loop N: N runs of /bin/true by the account; their shell's pid goes to $tmp/user/loop.pid.
run_loop() {
    as_user sh -c 'echo $$ >"$1"; i=0; while [ $i -lt "$2" ]; do /bin/true; i=$((i + 1)); done' \
        sh "$tmp/user/loop.pid" "$1"
}

# check_table NAME: the client's table ($tmp/NAME.out) was what /proc showed.
check_table() {
    local line
    line=$(grep '^proc-check' "$tmp/$1.out") || fail "no proc-check from the $1 client"
    read -r _ missing extra <<<"$line"
    ((missing == 0 && extra == 0)) ||
        fail "the $1 client's table differs from /proc: $missing missing, $extra extra: $(cat "$tmp/$1.err")"
}

# 1. One client stops reading while 4,000 processes come and go; the other reads on.
runs=4000
start_service --source "$source_kind"
as_user "$client" --socket "$socket" --stall "$tmp/done" --until "$tmp/done" --check-proc --dump \
    >"$tmp/stalled.out" 2>"$tmp/stalled.err" &
stalled=$!
as_user "$client" --socket "$socket" --until "$tmp/done" --dump >"$tmp/reader.out" 2>"$tmp/reader.err" &
reader=$!
extra_pids+=("$stalled" "$reader")
wait_for_line "$tmp/stalled.out" '^ready'
wait_for_line "$tmp/reader.out" '^ready'
run_loop "$runs"
loop=$(cat "$tmp/user/loop.pid")
touch "$tmp/done"
wait_gone 60 "$stalled"
wait_gone 60 "$reader"
wait "$stalled" || fail "the stalled client failed: $(cat "$tmp/stalled.err")"
wait "$reader" || fail "the reading client failed: $(cat "$tmp/reader.err")"
grep -q $'^resync\t1' "$tmp/stalled.out" || fail "the stalled client was never told to resync"
check_table stalled
grep -q $'^resync\t' "$tmp/reader.out" && fail "the reading client was told to resync: $(grep -c $'^resync\t' "$tmp/reader.out") times, $(grep -c $'^resync\t' "$tmp/stalled.out") for the stalled one"
execs=$(awk -F'\t' -v loop="$loop" '$1 == "exec" && $3 == loop' "$tmp/reader.out" | wc -l)
exits=$(awk -F'\t' -v loop="$loop" '$1 == "exec" && $3 == loop { mine[$2 ":" $5] = 1 }
    $1 == "exited" && ($2 ":" $3) in mine { n++ } END { print n + 0 }' "$tmp/reader.out")
((execs == runs && exits == runs)) || fail "the reading client got $execs execs and $exits exits of $runs"
echo "$source_kind: stalled client resynchronised $(grep -c $'^resync\t' "$tmp/stalled.out") time(s), table equal to /proc; the other got all $runs"
stop_service

# 2. A buffer of one page, and the service stopped while 300 processes come and go.
rm -f "$tmp/done"
start_service --source "$source_kind" --buffer-size 4096
as_user "$client" --socket "$socket" --until "$tmp/done" --check-proc --dump >"$tmp/lossy.out" 2>"$tmp/lossy.err" &
lossy=$!
extra_pids+=("$lossy")
wait_for_line "$tmp/lossy.out" '^ready'
kill -STOP "$service_pid"
run_loop 300
setpriv --reuid="$account" --regid="$account" --init-groups -- sleep 30 &
sleeper=$!
extra_pids+=("$sleeper")
sleep 0.2
kill -CONT "$service_pid"
wait_for_line "$tmp/orvaned.log" 'kernel events were lost'
touch "$tmp/done"
wait_gone 60 "$lossy"
wait "$lossy" || fail "the client failed after the loss: $(cat "$tmp/lossy.err")"
grep -q $'^resync\t2' "$tmp/lossy.out" || fail "the client was not told that events were lost"
check_table lossy
kill "$sleeper"
echo "$source_kind: events lost, /proc read again, the client's table equal to /proc"
stop_service
echo "resync ($source_kind): OK"
