# Shared by the service's test scripts: root or skip, the ordinary account the clients run as,
# a temporary folder every account can pass, the service started from the build tree and
# stopped by its pid on every way out.
#
#   source lib.sh; setup BUILD_DIR; start_service [OPTIONS...]; as_user CMD...

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; [[ -f "${tmp:-}/orvaned.log" ]] && sed 's/^/  service: /' "$tmp/orvaned.log" >&2; exit 1; }

account=orvane-test
service_pids=()
service_runner=() # a command that the service runs under (setpriv ...), empty: as root

cleanup() {
    local pid
    for pid in "${service_pids[@]}"; do
        kill "$pid" 2>/dev/null && wait_gone 10 "$pid" 2>/dev/null
    done
    for pid in "${extra_pids[@]:-}"; do
        [[ -n "$pid" ]] && kill -9 "$pid" 2>/dev/null
    done
    [[ -n "${tmp:-}" && -z "${ORVANE_KEEP_TMP:-}" ]] && rm -rf "$tmp"
}
extra_pids=()

# setup BUILD_DIR: checks root, makes the account and $tmp, copies the programs into $tmp/bin.
setup() {
    local build=$1
    [[ $(id -u) -eq 0 ]] || skip "the service needs root (run the tests as root)"
    orvaned="$build/src/service/orvaned"
    [[ -x "$orvaned" ]] || fail "$orvaned is not built"
    if ! id -u "$account" >/dev/null 2>&1; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin "$account" || fail "cannot create $account"
    fi
    account_uid=$(id -u "$account")
    tmp=$(mktemp -d /tmp/orvaned-test.XXXXXX)
    trap cleanup EXIT
    chmod 0755 "$tmp"
    mkdir -p "$tmp/bin" "$tmp/etc" "$tmp/run"
    chmod 0755 "$tmp/bin" "$tmp/etc" "$tmp/run"
    # Where the account may write.
    mkdir -p "$tmp/user"
    chown "$account:" "$tmp/user"
    # The leak checker's suppressions, where the account can read them (a clone under a home
    # folder it cannot pass would make every sanitized program it runs fail at its exit).
    if [[ ${LSAN_OPTIONS:-} =~ suppressions=([^:]*) ]]; then
        cp "${BASH_REMATCH[1]}" "$tmp/lsan.supp" && chmod 0644 "$tmp/lsan.supp"
        export LSAN_OPTIONS=${LSAN_OPTIONS/"${BASH_REMATCH[1]}"/$tmp/lsan.supp}
    fi
    cp "$build/tests/service/orvane_watch_client" "$tmp/bin/"
    client="$tmp/bin/orvane_watch_client"
    socket="$tmp/run/orvaned.sock"
    list="$tmp/etc/BlackList.log"
}

# start_service [OPTIONS...]: orvaned on $socket with the list $list, at the priority its
# unit gives it (Nice=-10); waits for its socket.
start_service() {
    nice -n -10 "${service_runner[@]}" "$orvaned" --socket "$socket" --disabled-list "$list" "$@" 2>>"$tmp/orvaned.log" &
    service_pid=$!
    service_pids+=("$service_pid")
    local waited
    for waited in $(seq 100); do
        [[ -S "$socket" ]] && return 0
        kill -0 "$service_pid" 2>/dev/null || break
        sleep 0.05
    done
    if grep -q "eBPF tracepoints cannot be used" "$tmp/orvaned.log" 2>/dev/null; then
        skip "eBPF cannot be used here: $(grep -m1 'cannot be used' "$tmp/orvaned.log")"
    fi
    if grep -q "process connector cannot be used" "$tmp/orvaned.log" 2>/dev/null; then
        skip "the process connector cannot be used here: $(grep -m1 'cannot be used' "$tmp/orvaned.log")"
    fi
    fail "orvaned did not start"
}

# stop_service: SIGTERM, then the service must end cleanly (status 0: under the sanitizers a
# leak or an error changes it) and have reported no sanitizer finding.
stop_service() {
    kill "$service_pid" 2>/dev/null
    wait_gone 10 "$service_pid" || fail "orvaned did not stop on SIGTERM"
    wait "$service_pid"
    local status=$?
    ((status == 0)) || fail "orvaned ended with status $status"
    ! grep -qE 'runtime error|ERROR: (Address|Leak)Sanitizer' "$tmp/orvaned.log" || fail "orvaned: sanitizer findings"
}

as_user() {
    setpriv --reuid="$account" --regid="$account" --init-groups -- "$@"
}

# wait_gone SECONDS PID: until PID has ended, looked at every 50 ms; fails after SECONDS.
wait_gone() {
    timeout "$1" tail -s 0.05 --pid="$2" -f /dev/null
}

# wait_for_line FILE PATTERN [SECONDS]
wait_for_line() {
    local waited
    for waited in $(seq $((${3:-20} * 20))); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "no line '$2' in $1 within ${3:-20} s"
}
