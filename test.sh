#!/usr/bin/env bash
# Installs what is missing, builds Orvane and runs every test through CTest, each test in one
# tree only:
#   build/        the program as it ships: the tests that run it whole and install it (g++)
#   build-asan/   the unit tests (core and widgets) and the service's scripts under Address- and
#                 UndefinedBehaviorSanitizer (clang)
#   build-tsan/   the core under ThreadSanitizer, for the monitor's stress test
#   build-fuzz/   the file loaders under libFuzzer and AddressSanitizer (clang)
# The core tests and the end-to-end tests run a second time as an unprivileged user with a
# desktop session's descriptor limits (tests/run-as-user.sh).
# Warnings are errors in every tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

# phase NAME COMMAND...: runs COMMAND and notes its wall time and its processor time (user and
# system of every process it waited for); the table is printed at the end, also after a failure.
phases=()
# children_cpu: the processor time, in clock ticks, of the children this shell has waited for.
children_cpu() {
    local stat
    read -r stat </proc/$BASHPID/stat
    stat=(${stat##*) })
    cpu=$((stat[13] + stat[14]))
}
phase() {
    local name=$1 start=${EPOCHREALTIME/[^0-9]/} cpu before wall status=0
    shift
    children_cpu
    before=$cpu
    "$@" || status=$?
    children_cpu
    ((status == 0)) || name+=" (failed)"
    wall=$(((${EPOCHREALTIME/[^0-9]/} - start) / 100000))
    cpu=$(((cpu - before) * 10 / $(getconf CLK_TCK)))
    phases+=("$(phase_line "$name" "$wall" "$cpu")")
    return "$status"
}
# phase_line NAME WALL CPU (tenths of a second)
phase_line() {
    printf '%-26s %5d.%d s wall %5d.%d s cpu' "$1" $(($2 / 10)) $(($2 % 10)) $(($3 / 10)) $(($3 % 10))
}
test_start=${EPOCHREALTIME/[^0-9]/}
summary() {
    local cpu
    ((${#phases[@]})) || return 0
    children_cpu
    echo "== time per phase"
    printf '%s\n' "${phases[@]}"
    phase_line "all" $(((${EPOCHREALTIME/[^0-9]/} - test_start) / 100000)) \
        $((cpu * 10 / $(getconf CLK_TCK)))
    echo
}
trap summary EXIT

jobs="$(nproc)"
# The sanitizer trees are built at -O1 with line tables only: what their reports need, and a
# third less compile time than -O2 with full debug information.
sanitized=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
asan_env=(env ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp")

# ./test.sh --beside: the thread-sanitizer tree's build and the fuzz tree, which the run below
# starts at the lowest priority beside its own work. The tests of the other trees mostly wait
# on processes and clocks, and leave the processors to it; the compilers of the other trees
# take them back at once. The fuzz tests check a number of inputs, not a time; the stress test
# holds the monitor to its waits, and runs at the end at the usual priority.
if [[ ${1:-} == --beside ]]; then
    phase "tsan: configure" cmake/configure.sh build-tsan "${sanitized[@]}" -DORVANE_GUI=OFF \
        -DORVANE_SANITIZE=thread
    phase "tsan: compile" cmake --build build-tsan -j "$jobs"
    phase "fuzz: configure" env CC=clang CXX=clang++ cmake/configure.sh build-fuzz \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON -DORVANE_GUI=OFF -DORVANE_FUZZ=ON
    phase "fuzz: compile" cmake --build build-fuzz -j "$jobs"
    phase "fuzz: tests" ctest --test-dir build-fuzz --output-on-failure -j "$jobs"
    exit
fi

phase "packages" ./deps/install.sh

mkdir -p build-tsan
beside_log=build-tsan/beside.log
# A process group of its own (job control), so that it can be stopped as a whole, but in the
# same session: a new session would be scheduled as a group of its own, as much as this one.
set -m
nice -n 19 ./test.sh --beside </dev/null >"$beside_log" 2>&1 &
beside=$!
set +m
# On every way out the work beside ends too.
trap 'kill -TERM -- -$beside 2>/dev/null || true; summary' EXIT

# The unit tests are built and run under the sanitizers only: the plain tree has the program as
# it ships (without debug information, as the package strips it), for the tests that run it
# whole and install it.
phase "build: configure" cmake/configure.sh build -DCMAKE_BUILD_TYPE=Release -DORVANE_WERROR=ON \
    -DORVANE_UNIT_TESTS=OFF
phase "build: compile" cmake --build build -j "$jobs"
# clang builds the sanitizer tree of the unit tests in two thirds of GCC's time, and its
# UndefinedBehaviorSanitizer checks more (alignment through references, for one); GCC's warnings
# still cover every source of the program in the plain tree.
phase "asan: configure" env CC=clang CXX=clang++ cmake/configure.sh build-asan "${sanitized[@]}" \
    -DORVANE_SANITIZE=address,undefined
phase "asan: compile" cmake --build build-asan -j "$jobs"

phase "asan: tests" "${asan_env[@]}" ctest --test-dir build-asan --output-on-failure -j "$jobs"
# The install tests (one installs and removes the Debian package) run after the others, alone:
# the package manager's work must not starve the tests that watch the clock.
phase "build: tests" ctest --test-dir build --output-on-failure -j "$jobs" -LE install
phase "build: install tests" ctest --test-dir build --output-on-failure -L install
phase "as a user" "${asan_env[@]}" ./tests/run-as-user.sh build-asan build

status=0
phase "tsan build, fuzz (beside)" wait "$beside" || status=$?
echo "== beside the others ($beside_log)"
cat "$beside_log"
((status == 0)) || exit "$status"
phase "tsan: tests" ctest --test-dir build-tsan --output-on-failure
