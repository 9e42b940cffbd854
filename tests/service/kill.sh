#!/usr/bin/env bash
# The system-wide list reaches every user: a program on it, started 100 times by an ordinary
# user, is killed every time (SIGKILL, exit status 137), and the service says so once each.
# Before the list names it, the same program runs to its end.
#
#   kill.sh BUILD_DIR bpf|connector
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"
source_kind=$2
runs=100

# A name of this run alone: other tests on this machine run programs too.
name="orvane-disabled-$$-$RANDOM"
program="$tmp/bin/$name"
cp /bin/sleep "$program"
chmod 0755 "$program"

start_service --source "$source_kind"
wait_for_line "$tmp/orvaned.log" 'no disabled programs'
as_user "$program" 0.01 || fail "$name did not run before it was listed"

printf '%s|' "$name" >"$list.new"
chmod 0644 "$list.new"
mv "$list.new" "$list"
wait_for_line "$tmp/orvaned.log" '1 disabled program name'

# A run that the service misses sleeps 3 s and ends by timeout's SIGTERM (124).
as_user sh -c 'i=0; while [ $i -lt "$2" ]; do timeout 3 "$1" 3; echo $?; i=$((i + 1)); done' \
    sh "$program" "$runs" >"$tmp/statuses"
killed=$(grep -cx 137 "$tmp/statuses")
told=$(grep -c "killed $name " "$tmp/orvaned.log")
echo "$source_kind: $killed of $runs runs killed; $told told"
((killed == runs)) || fail "only $killed of $runs runs were killed: $(sort "$tmp/statuses" | uniq -c | tr '\n' ' ')"
((told == runs)) || fail "the service told $told kills, not $runs"
stop_service
echo "kill ($source_kind): OK"
