#!/usr/bin/env bash
# Installs what Postwick needs, builds it and starts it. Arguments go to the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
exec "${POSTWICK_BUILD_DIR:-$here/build}/bin/postwick" "$@"
