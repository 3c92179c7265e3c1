#!/usr/bin/env bash
# Configures and builds Postwick into build/ (or $POSTWICK_BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DPOSTWICK_WERROR=ON.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${POSTWICK_BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${POSTWICK_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
