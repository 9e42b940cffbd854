#!/usr/bin/env bash
# Configures a build tree with Ninja (Make's recursion costs seconds on every build):
#   [CC=... CXX=...] cmake/configure.sh TREE CMAKE_ARGUMENTS...
# A tree made by another generator, or with another compiler than CXX names, is configured
# afresh, since CMake will not switch it.
set -euo pipefail
tree=$1
shift
cache=$tree/CMakeCache.txt
if [[ -f $cache ]]; then
    reason=
    grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache" || reason="another generator"
    if [[ -n ${CXX:-} ]] && ! grep -qx "CMAKE_CXX_COMPILER:FILEPATH=$(command -v "$CXX")" "$cache"; then
        reason="another compiler"
    fi
    if [[ -n $reason ]]; then
        echo "note: $tree was made by $reason: configured afresh"
        rm -rf "$cache" "$tree/CMakeFiles"
    fi
fi
exec cmake -G Ninja -S "$(dirname "${BASH_SOURCE[0]}")/.." -B "$tree" "$@"
