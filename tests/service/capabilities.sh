#!/usr/bin/env bash
# The service as its unit runs it: an account of its own with the unit's five capabilities
# and nothing else. With eBPF and with the connector it still names root's programs with their
# paths and kills another account's disabled program; without CAP_BPF and CAP_PERFMON it falls
# back to the connector and says so once.
#
#   capabilities.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"

caps=bpf,perfmon,net_admin,kill,sys_ptrace
chown "$account:" "$tmp/run"
as_service() { # as_service CAP,CAP...: the runner for start_service
    local set="-all,+${1//,/,+}"
    service_runner=(setpriv --reuid="$account" --regid="$account" --clear-groups
        --inh-caps="$set" --ambient-caps="$set" --)
}
name="orvane-capped-$$-$RANDOM"
program="$tmp/bin/$name"
cp /bin/sleep "$program"
printf '%s|' "$name" >"$list"
chmod 0644 "$list"

# check SOURCE: root's sleep is named with its path (it lives long enough for the connector to
# read it), root's listed program is killed.
check() {
    rm -f "$tmp/done"
    "$client" --socket "$socket" --dump --until "$tmp/done" >"$tmp/client.out" 2>"$tmp/client.err" &
    local reader=$!
    extra_pids+=("$reader")
    wait_for_line "$tmp/client.out" '^ready'
    grep -q $'^welcome\t'"$1" "$tmp/client.out" || fail "the service does not watch with $1: $(head -1 "$tmp/client.out")"
    sh -c 'echo $$ >"$1"; /bin/sleep 0.3' sh "$tmp/parent.pid"
    timeout 5 "$program" 5
    local status=$?
    ((status == 137)) || fail "$1: root's listed program was not killed (status $status)"
    touch "$tmp/done"
    wait_gone 20 "$reader"
    grep -qE $'^exec\t[0-9]+\t'"$(cat "$tmp/parent.pid")"$'\t0\t[0-9]+\tsleep\t/usr/bin/sleep$' "$tmp/client.out" ||
        fail "$1: root's sleep was not named with its path"
}

as_service "$caps"
start_service --source bpf
check bpf
stop_service
as_service "$caps"
start_service --source connector
check connector
stop_service
echo "with the unit's capabilities alone: both sources name every program and kill listed ones"

as_service net_admin,kill,sys_ptrace
start_service
wait_for_line "$tmp/orvaned.log" 'watching with the process connector'
told=$(grep -c 'eBPF tracepoints cannot be used' "$tmp/orvaned.log")
((told == 1)) || fail "the fallback was told $told times"
check connector
stop_service
echo "without CAP_BPF and CAP_PERFMON: $(grep -m1 'cannot be used' "$tmp/orvaned.log" | sed 's/^orvaned: //')"
echo "capabilities: OK"
