#!/usr/bin/env bash
# The program raises its soft descriptor limit to the hard one as it starts: started the way a
# desktop session starts programs, with a soft limit of 1,024, the running program's own
# limits (/proc/<pid>/limits) show a soft limit equal to the hard one. Runs offscreen.
#
# usage: file-limit.sh PROGRAM    exit 77 (skipped) when prlimit is missing or nothing can be raised
set -uo pipefail

program=$1
command -v prlimit >/dev/null || { echo "SKIP: prlimit is not installed"; exit 77; }
hard=$(ulimit -Hn)
if [[ $hard != unlimited ]] && ((hard <= 1024)); then
    echo "SKIP: the hard limit is $hard: there is nothing to raise"
    exit 77
fi
[[ $hard == unlimited ]] && hard=$(cat /proc/sys/fs/nr_open)

tmp=$(mktemp -d /tmp/orvane-limit.XXXXXX)
pid=
cleanup() {
    [[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

cp "$program" "$tmp/orvane" || { echo "FAIL: copy the program"; exit 1; }
QT_QPA_PLATFORM=offscreen prlimit --nofile=1024:"$hard" -- "$tmp/orvane" >"$tmp/out" 2>&1 &
pid=$!
soft=
for _ in $(seq 100); do
    if [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == "$tmp/orvane" ]]; then
        soft=$(awk '/^Max open files/ { print $4 }' "/proc/$pid/limits")
        [[ $soft == "$hard" ]] && break
    fi
    sleep 0.1
done
kill -TERM "$pid"
wait "$pid"
pid=
if [[ $soft != "$hard" ]]; then
    echo "FAIL: started under 1024:$hard, the program runs with a soft limit of ${soft:-?}"
    sed 's/^/     | /' "$tmp/out"
    exit 1
fi
echo "ok   - started under 1024:$hard, the program raised its soft limit to $soft"
