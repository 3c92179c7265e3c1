#!/usr/bin/env bash
# Builds the program and makes its Debian package in build/package/ (or
# $POSTWICK_BUILD_DIR/package/), then checks the package and its desktop files with
# lintian, desktop-file-validate and appstreamcli. Extra arguments go to CMake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${POSTWICK_BUILD_DIR:-$here/build}
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  set -- -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache "$@"
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${POSTWICK_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
# only what the package holds, not the tests and benchmarks
cmake --build "$build" --target postwick postwick_manual postwick_icons postwick_data postwick_packaging
(cd "$build" && cpack -G DEB -B "$build/package")
deb=$(ls -t "$build"/package/postwick_*.deb | head -n1)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb --field "$deb" Depends Recommends

status=0
desktop-file-validate "$here/src/app/desktop/postwick.desktop" || status=1
appstreamcli validate --no-net "$build/packaging/postwick.metainfo.xml" || true
# warnings are listed, errors fail
if appstreamcli validate --no-net "$build/packaging/postwick.metainfo.xml" 2>&1 | grep -q '^E:'; then
  status=1
fi
lintian --fail-on error "$deb" || status=1
exit $status
