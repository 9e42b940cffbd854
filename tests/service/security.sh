#!/usr/bin/env bash
# What a client may see and ask, and which list the service obeys:
# 1. a client whose /proc is mounted with hidepid=2 (in its own mount namespace) sees its own
#    processes and no other user's;
# 2. a kill request from a user outside orvane-admin is refused and changes nothing; a
#    member's is done, and only for the process of that pid and start time;
# 3. a list file that a user owns is refused and told, and its names are not obeyed; the same
#    file given to root is obeyed.
#
#   security.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
setup "$1"
command -v unshare >/dev/null || skip "unshare is missing (util-linux)"

start_service
wait_for_line "$tmp/orvaned.log" 'no disabled programs'

# 1. hidepid=2 in a private mount namespace.
root_sleep="$tmp/bin/orvane-root-$$"
cp /bin/sleep "$root_sleep"
"$root_sleep" 60 &
root_pid=$!
extra_pids+=("$root_pid")
setpriv --reuid="$account" --regid="$account" --init-groups -- sleep 60 &
user_pid=$!
extra_pids+=("$user_pid")
unshare --mount --propagation private sh -c '
    mount -t proc -o hidepid=2 proc /proc || exit 3
    exec setpriv --reuid="$1" --regid="$1" --init-groups -- "$2" --socket "$3" --dump --until "$4"
' sh "$account" "$client" "$socket" "$tmp/done" >"$tmp/hidden.out" 2>"$tmp/hidden.err" &
hidden=$!
extra_pids+=("$hidden")
wait_for_line "$tmp/hidden.out" '^ready'
as_user /bin/true
"$root_sleep" 0.01
touch "$tmp/done"
wait_gone 30 "$hidden"
wait "$hidden"
status=$?
((status != 3)) || skip "proc cannot be mounted with hidepid=2 here"
((status == 0)) || fail "the hidepid client failed: $(cat "$tmp/hidden.err")"
flags=$(awk -F'\t' '$1 == "welcome" { print $3 }' "$tmp/hidden.out")
((flags & 2)) || fail "the service did not see the client's hidepid=2 (welcome flags $flags)"
others=$(awk -F'\t' -v uid="$account_uid" '($1 == "process" || $1 == "started" || $1 == "exec") && $4 != uid' \
    "$tmp/hidden.out" | wc -l)
((others == 0)) || fail "the hidepid client saw $others processes of other users"
grep -q $'^process\t'"$user_pid"$'\t' "$tmp/hidden.out" || fail "the hidepid client did not see its own sleep"
grep -q $'\t'"orvane-root-$$"$'\t' "$tmp/hidden.out" && fail "the hidepid client saw root's program"
grep -qE $'^exec\t[0-9]+\t[0-9]+\t'"$account_uid"$'\t[0-9]+\ttrue\t/usr/bin/true$' "$tmp/hidden.out" ||
    fail "the hidepid client did not see its own /bin/true with its path"
echo "hidepid=2: the client saw $(grep -c '^process' "$tmp/hidden.out") processes, all its own"

# 2. Kill requests. The target: root's sleep, named by pid and start time.
start=$(awk '{ sub(/^.*\) /, ""); print $20 }' "/proc/$root_pid/stat")
ask_kill() { # ask_kill TARGET [setpriv options...]
    local target=$1
    shift
    setpriv --reuid="$account" --regid="$account" "$@" -- "$client" --socket "$socket" --kill "$target" |
        awk -F'\t' '$1 == "kill-result" { print $4 }'
}
[[ $(ask_kill "$root_pid:$start" --init-groups) == 1 ]] || fail "a non-member's kill request was not refused (EPERM)"
kill -0 "$root_pid" || fail "a refused kill request killed the process"
getent group orvane-admin >/dev/null || groupadd --system orvane-admin || fail "cannot create orvane-admin"
admin_gid=$(getent group orvane-admin | cut -d: -f3)
member=(--groups="$admin_gid")
[[ $(ask_kill "$root_pid:$((start + 1))" "${member[@]}") == 3 ]] ||
    fail "a member's request for another start time was not answered ESRCH"
kill -0 "$root_pid" || fail "a request for another start time killed the process"
[[ $(ask_kill "$root_pid:$start" "${member[@]}") == 0 ]] || fail "a member's kill request was not done"
wait "$root_pid"
status=$?
((status == 137)) || fail "the member's kill request did not end the process with SIGKILL (status $status)"
echo "kill requests: refused for a non-member, done for a member of orvane-admin"
stop_service

# 3. A list file that a user owns.
name="orvane-listed-$$-$RANDOM"
program="$tmp/bin/$name"
cp /bin/sleep "$program"
printf '%s|' "$name" >"$list"
chmod 0644 "$list"
chown "$account:" "$list"
start_service
wait_for_line "$tmp/orvaned.log" 'not obeyed: not owned by root'
as_user timeout 5 "$program" 0.2 || fail "a name from a user's list file was obeyed"
chown root: "$list"
wait_for_line "$tmp/orvaned.log" '1 disabled program name'
as_user timeout 5 "$program" 5
status=$?
((status == 137)) || fail "the list given to root was not obeyed (status $status)"
chmod 0666 "$list"
wait_for_line "$tmp/orvaned.log" 'not obeyed: writable by others'
echo "list files: a user's refused and told, root's obeyed, one that others may write refused"
stop_service
echo "security: OK"
