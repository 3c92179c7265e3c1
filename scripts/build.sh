#!/usr/bin/env bash
# Configures and builds Postwick into build/ (or $POSTWICK_BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DPOSTWICK_WERROR=ON.
# POSTWICK_TARGETS (names separated by blanks) builds only those; POSTWICK_CONFIGURE_ONLY=1 only
# configures.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${POSTWICK_BUILD_DIR:-$here/build}
launcher=()
# a compiler cache makes rebuilds in several checkouts of the tree cheap; harmless where absent
# (paths relative to the checkout, so that other checkouts of the tree hit the same entries)
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${POSTWICK_BUILD_TYPE:-RelWithDebInfo} "${launcher[@]}" "$@" >/dev/null
[ "${POSTWICK_CONFIGURE_ONLY:-0}" = 1 ] && exit 0
# shellcheck disable=SC2086 # the names are split on purpose
cmake --build "$build" -j"$(nproc)" ${POSTWICK_TARGETS:+--target $POSTWICK_TARGETS}
