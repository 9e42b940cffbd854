# Shared by the end-to-end scripts (sourced; each sets tmp, its temporary directory):
#   check DESCRIPTION COMMAND...  prints "ok" or "FAIL" for COMMAND and counts the failures;
#   fatal DESCRIPTION             ends the script at once, showing the logs named in fatal_logs;
#   finish_checks                 ends the script: 0 when every check passed;
#   check_process_lines NAME LOG  starts a copy of sleep named NAME, ends it, and checks its
#                                 Started and Finished lines in LOG (needs wait_until, and
#                                 leaves the copy's pid in sleep_pid while it runs, for the
#                                 script's cleanup).

failures=0
fatal_logs=(orvane.out) # files of $tmp shown when the script stops on a failure

check() {
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        echo "ok   - $what"
    else
        echo "FAIL - $what"
        failures=$((failures + 1))
    fi
}

show_logs() {
    local f
    for f in "${fatal_logs[@]}"; do
        [[ -s $tmp/$f ]] && echo "     $f:" && sed 's/^/     | /' "$tmp/$f"
    done
}

fatal() {
    echo "FAIL - $1"
    show_logs
    exit 1
}

finish_checks() {
    if ((failures > 0)); then
        echo "$failures check(s) failed; program output:"
        show_logs
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

check_process_lines() {
    local name=$1 log=$2
    cp /bin/sleep "$tmp/$name"
    "$tmp/$name" 300 &
    sleep_pid=$!
    local started finished
    started="Started process$(printf ' \t\t')$name$(printf ' \t\t')"
    wait_until 10 grep -aqF "$started" "$log"
    check "\"Started process\" line for $name" grep -aqF "$started" "$log"
    kill -TERM "$sleep_pid"
    wait "$sleep_pid" 2>/dev/null
    sleep_pid=
    finished="Finished process$(printf ' \t')$name$(printf ' \t\t')"
    wait_until 10 grep -aqF "$finished" "$log"
    check "\"Finished process\" line for $name" grep -aqF "$finished" "$log"
}
