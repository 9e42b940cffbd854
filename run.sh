#!/usr/bin/env bash
# Installs what is missing, builds Orvane and starts it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
./deps/install.sh
cmake/configure.sh build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target orvane
exec ./build/src/orvane "$@"
