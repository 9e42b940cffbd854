#!/usr/bin/env bash
# Every start, exec and exit reaches a client: an ordinary user runs /bin/true 2,000 times and
# that user's client receives, for each run, its start, its exec named "true" with its path and
# its exit, in that order. With the process connector the names come from /proc, where the
# shortest lives may be over: none may be missing and none misnamed, the rest "unknown". How
# many it names is a matter of the machine's speed, printed as a figure; PERCENT, when given,
# holds it to a share for a run by hand on a known machine.
#
#   coverage.sh BUILD_DIR bpf|connector [PERCENT]
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"
source_kind=$2
named_share=${3:-0}
runs=2000

start_service --source "$source_kind"
as_user "$client" --socket "$socket" --dump --until "$tmp/done" >"$tmp/client.out" 2>"$tmp/client.err" &
client_pid=$!
extra_pids+=("$client_pid")
wait_for_line "$tmp/client.out" '^ready'

# The loop's shell is the parent of every run: its pid picks them out of the machine's others.
as_user sh -c 'echo $$ >"$1"; i=0; while [ $i -lt "$2" ]; do /bin/true; i=$((i + 1)); done' \
    sh "$tmp/user/loop.pid" "$runs"
touch "$tmp/done"
wait_gone 60 "$client_pid"
wait "$client_pid" || fail "the client failed: $(cat "$tmp/client.err")"
loop=$(cat "$tmp/user/loop.pid")

# Per process (pid and start): started, then exec, then exited; count the names of the execs.
summary=$(awk -F'\t' -v loop="$loop" -v src="$source_kind" '
    ($1 == "started" || $1 == "exec") && $3 == loop { key = $2 ":" $5; if (!(key in state)) state[key] = 0 }
    $1 == "started" && $3 == loop { key = $2 ":" $5; if (state[key] != 0) { bad++; print "out of order: " $0 > "/dev/stderr" } state[key] = 1 }
    $1 == "exec" && $3 == loop {
        key = $2 ":" $5; if (state[key] != 1) { bad++; print "out of order: " $0 > "/dev/stderr" } state[key] = 2; execs++
        # A name from /proc alone (the connector) may come without its path.
        if ($6 == "true" && ($7 ~ /\/true$/ || ($7 == "" && src == "connector"))) named++
        else if ($6 == "unknown") unknown++
        else { other++; print "other name: " $0 > "/dev/stderr" }
    }
    $1 == "exited" { key = $2 ":" $3; if (key in state) { if (state[key] != 2) { bad++; print "out of order: " $0 > "/dev/stderr" } state[key] = 3; exits++ } }
    $1 == "resync" { resyncs++ }
    END { printf "%d %d %d %d %d %d %d\n", execs, named, unknown, other, exits, bad, resyncs }
' "$tmp/client.out")
[[ -n "${ORVANE_KEEP_OUTPUT:-}" ]] && cp "$tmp/client.out" "$ORVANE_KEEP_OUTPUT"
read -r execs named unknown other exits bad resyncs <<<"$summary"
echo "$source_kind: $execs execs ($named named true ($((named * 100 / runs)) %), $unknown unknown, $other other), $exits exits, $bad out of order, $resyncs resyncs"

((resyncs == 0)) || fail "the client was resynchronised $resyncs times"
((execs == runs)) || fail "$execs execs of $runs runs reached the client"
((exits == runs)) || fail "$exits exits of $runs runs reached the client"
((bad == 0)) || fail "$bad events out of order (start, exec, exit per process)"
((other == 0)) || fail "$other execs named neither true nor unknown"
if [[ $source_kind == bpf ]]; then
    ((named == runs)) || fail "only $named of $runs execs were named true with their path"
else
    ((named * 100 >= runs * named_share)) || fail "only $named of $runs execs were named true ($named_share % needed)"
fi
stop_service
echo "coverage ($source_kind): OK"
