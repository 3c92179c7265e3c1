#!/usr/bin/env bash
# Installs what the tests need, builds everything with warnings as errors and runs the suite.
# POSTWICK_SANITIZE=1 builds and runs under AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-asan/). Extra arguments go to ctest, e.g. -R smtp.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export QTWEBENGINE_DISABLE_SANDBOX=1
flags=(-DPOSTWICK_WERROR=ON)
if [ "${POSTWICK_SANITIZE:-0}" = 1 ]; then
  export POSTWICK_BUILD_DIR=${POSTWICK_BUILD_DIR:-$here/build-asan}
  flags+=(-DPOSTWICK_SANITIZE=ON -DPOSTWICK_BENCH=OFF)
fi
"$here/scripts/build.sh" "${flags[@]}"
cd "${POSTWICK_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)" "$@"
