#!/usr/bin/env bash
# Started by socket activation: systemd-socket-activate holds the socket and starts orvaned at
# the first connection, passing it by LISTEN_FDS; the client is served from that socket.
#
#   activation.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"
command -v systemd-socket-activate >/dev/null || skip "systemd-socket-activate is missing"

systemd-socket-activate --listen="$socket" "$orvaned" --disabled-list "$list" 2>>"$tmp/orvaned.log" &
service_pid=$!
service_pids+=("$service_pid")
for waited in $(seq 100); do
    [[ -S "$socket" ]] && break
    sleep 0.05
done
chmod 0666 "$socket"
as_user "$client" --socket "$socket" --until /dev/null >"$tmp/client.out" 2>"$tmp/client.err" ||
    fail "the client was not served: $(cat "$tmp/client.err")"
grep -q '^ready' "$tmp/client.out" || fail "the client got no snapshot"
grep -q 'listening on the socket passed by systemd' "$tmp/orvaned.log" || fail "orvaned did not take the passed socket"
# systemd-socket-activate has become orvaned (same pid).
[[ $(cat "/proc/$service_pid/comm") == orvaned ]] || fail "the activated process is $(cat "/proc/$service_pid/comm")"
stop_service
echo "socket activation: OK"
