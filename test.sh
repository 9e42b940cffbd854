#!/usr/bin/env bash
# Installs what is missing, builds Orvane and runs every test through CTest:
#   build/        the program and all tests (g++)
#   build-asan/   the unit tests (core and widgets) under Address- and UndefinedBehaviorSanitizer
#   build-tsan/   the core under ThreadSanitizer, for the monitor's stress test
#   build-fuzz/   the file loaders under libFuzzer and AddressSanitizer (clang)
# The core and end-to-end tests of build/ run a second time as an unprivileged user with a
# desktop session's descriptor limits (tests/run-as-user.sh).
# Warnings are errors in every tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
./deps/install.sh
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON
cmake --build build -j "$jobs"
# The install tests (one installs and removes the Debian package) run after the others, alone:
# the package manager's work must not starve the tests that watch the clock.
ctest --test-dir build --output-on-failure -j "$jobs" -LE install
ctest --test-dir build --output-on-failure -L install
./tests/run-as-user.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON \
    -DORVANE_SANITIZE=address,undefined
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON -DORVANE_GUI=OFF -DORVANE_SANITIZE=thread
cmake --build build-tsan -j "$jobs"
ctest --test-dir build-tsan --output-on-failure

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_WERROR=ON -DORVANE_GUI=OFF -DORVANE_FUZZ=ON
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure
