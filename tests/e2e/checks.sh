# Shared by the end-to-end scripts (sourced; each sets tmp, its temporary directory):
#   check DESCRIPTION COMMAND...  prints "ok" or "FAIL" for COMMAND and counts the failures;
#   fatal DESCRIPTION             ends the script at once, showing the logs named in fatal_logs;
#   finish_checks                 ends the script: 0 when every check passed.

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
