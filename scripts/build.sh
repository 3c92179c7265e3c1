#!/usr/bin/env bash
# Configures and builds Postwick into build/ (or $POSTWICK_BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DPOSTWICK_WERROR=ON.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${POSTWICK_BUILD_DIR:-$here/build}
launcher=()
# a compiler cache makes rebuilds in several checkouts of the tree cheap; harmless where absent
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${POSTWICK_BUILD_TYPE:-RelWithDebInfo} "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
