#!/usr/bin/env bash
# Configures a build tree with Ninja (Make's recursion costs seconds on every build):
#   cmake/configure.sh TREE CMAKE_ARGUMENTS...
# A tree made by another generator is configured afresh, since CMake will not switch it.
set -euo pipefail
tree=$1
shift
if [[ -f $tree/CMakeCache.txt ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$tree/CMakeCache.txt"; then
    echo "note: $tree was made by another generator: configured afresh"
    rm -rf "$tree/CMakeCache.txt" "$tree/CMakeFiles"
fi
exec cmake -G Ninja -S "$(dirname "${BASH_SOURCE[0]}")/.." -B "$tree" "$@"
