#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over the program's sources with the compile commands
# of a build (build/, or $POSTWICK_BUILD_DIR), built first so that its generated headers exist.
# Any finding fails. Extra arguments replace the file pattern, e.g. 'src/smtp/.*\.cpp$'.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${POSTWICK_BUILD_DIR:-$here/build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no $build/compile_commands.json; build first (scripts/build.sh)" >&2
  exit 1
fi
patterns=("$@")
[ ${#patterns[@]} -gt 0 ] || patterns=("$here/(src|fuzz|bench)/.*\.cpp$")
# the build's own warning flags are gcc's: clang neither knows all of them nor should they fail here
set +e
run-clang-tidy -quiet -p "$build" -j "$(nproc)" -extra-arg=-Wno-error \
  -extra-arg=-Wno-unknown-warning-option "${patterns[@]}" 2>&1 |
  sed -u 's/\x1b\[[0-9;]*m//g' |
  grep -v -e '^clang-tidy' -e '^[0-9]* warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' \
    -e '^Use -header-filter=' -e '^$'
# run-clang-tidy's status says whether any file had a finding; the filters only quiet it
status=${PIPESTATUS[0]}
set -e
exit "$status"
