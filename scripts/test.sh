#!/usr/bin/env bash
# Installs what the tests need, builds everything with warnings as errors and runs the suite.
# POSTWICK_SANITIZE=1 builds and runs under AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-asan/). POSTWICK_TESTS, a regular expression, builds and runs only the tests whose
# names match it. Extra arguments go to ctest, e.g. -R smtp.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
# The tree stays as clang-format writes it (style in .clang-format); checked first, it fails fast.
if git -C "$here" rev-parse --git-dir >/dev/null 2>&1; then
  if ! git -C "$here" ls-files -z '*.cpp' '*.h' | (cd "$here" && xargs -0 clang-format --dry-run --Werror); then
    echo "clang-format: the files above are not formatted; run clang-format -i on them" >&2
    exit 1
  fi
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export QTWEBENGINE_DISABLE_SANDBOX=1
flags=(-DPOSTWICK_WERROR=ON)
if [ "${POSTWICK_SANITIZE:-0}" = 1 ]; then
  export POSTWICK_BUILD_DIR=${POSTWICK_BUILD_DIR:-$here/build-asan}
  flags+=(-DPOSTWICK_SANITIZE=ON -DPOSTWICK_BENCH=OFF)
fi
build=${POSTWICK_BUILD_DIR:-$here/build}
if [ -n "${POSTWICK_TESTS:-}" ]; then
  POSTWICK_CONFIGURE_ONLY=1 "$here/scripts/build.sh" "${flags[@]}"
  # A test's program bears its name; a test that runs another's program by a script (not a
  # target itself) is chosen together with that one.
  targets=()
  while read -r name; do
    if ninja -C "$build" -t query "$name" >/dev/null 2>&1; then
      targets+=("$name")
    fi
  done < <(cd "$build" && ctest -N -R "$POSTWICK_TESTS" | sed -n 's/^ *Test *#[0-9]*: //p')
  if [ ${#targets[@]} -eq 0 ]; then
    echo "no test matches POSTWICK_TESTS=$POSTWICK_TESTS" >&2
    exit 1
  fi
  POSTWICK_TARGETS="${targets[*]}" "$here/scripts/build.sh" "${flags[@]}"
  set -- -R "$POSTWICK_TESTS" "$@"
else
  "$here/scripts/build.sh" "${flags[@]}"
fi
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
