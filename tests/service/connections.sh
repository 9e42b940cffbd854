#!/usr/bin/env bash
# One user's 1,000 connections at once take that user's share (64) and no more: the rest are
# refused, and another user's client is still served in full.
#
#   connections.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"

start_service
prlimit --nofile=4096:4096 -- setpriv --reuid="$account" --regid="$account" --init-groups -- \
    "$client" --socket "$socket" --connections 1000 --hold "$tmp/done" >"$tmp/many.out" 2>"$tmp/many.err" &
many=$!
extra_pids+=("$many")
wait_for_line "$tmp/many.out" '^connections' 60
read -r _ welcomed refused <"$tmp/many.out"
echo "one user's 1,000 connections: $welcomed served, $refused refused"
((welcomed == 64 && refused == 936)) || fail "expected 64 served and 936 refused"
# Another user (root here) while those are held.
timeout 20 "$client" --socket "$socket" --until /dev/null >"$tmp/other.out" 2>"$tmp/other.err" ||
    fail "another user's client was not served: $(cat "$tmp/other.err")"
grep -q '^ready' "$tmp/other.out" || fail "another user's client got no snapshot"
tables=$(awk -F'\t' '$1 == "table" { print $2 }' "$tmp/other.out")
((tables > 0)) || fail "another user's client got an empty table"
touch "$tmp/done"
wait_gone 20 "$many"
grep -q 'further ones are refused' "$tmp/orvaned.log" || fail "the service did not tell of the refused connections"
stop_service
echo "connections: OK"
