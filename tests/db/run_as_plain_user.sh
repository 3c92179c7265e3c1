#!/usr/bin/env bash
# Runs one database test binary as an ordinary user (nobody), so that the embedded engine is
# shown to work without root and without a server. As a non-root user the test runs as that
# user directly. Exit 77 (skipped) where there is no way to change the user.
set -euo pipefail
binary=$1
if [ "$(id -u)" -ne 0 ]; then
  exec "$binary"
fi
if ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1; then
  echo "no setpriv or no user nobody: skipped"
  exit 77
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
chown nobody "$home"
chmod 700 "$home"
cd "$home"
exec setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
  env -u FIREBIRD_LOCK -u XDG_RUNTIME_DIR HOME="$home" TMPDIR="$home" "$binary"
