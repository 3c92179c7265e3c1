#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Postwick needs.
# Idempotent: packages already present are skipped, so a prepared machine stays quiet.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang clang-format clang-tidy libclang-rt-14-dev ccache
  # Qt 6
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-l10n-tools
  # the HTML view of mail content, and Qt's own translations of its standard buttons and dialogs
  qt6-webengine-dev libqt6webenginecore6-bin qt6-translations-l10n
  libgl-dev
  # recipient database: client library and the engine that makes it embedded
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils
  # TLS, compression, charsets
  libssl-dev zlib1g-dev libicu-dev
  # workbooks
  libzip-dev
  # the bounce mailbox: its mail parsed, IMAP and POP3
  libgmime-3.0-dev libcurl4-openssl-dev
  # the desktop keyring (Secret Service) for passwords and sign-in tokens
  qtkeychain-qt6-dev
  # tests: independent peers and parsers
  python3 python3-aiosmtpd libxlsxwriter-dev libspreadsheet-writeexcel-perl postfix
  # the bounce mailbox tests: a real IMAP and POP3 server on loopback
  dovecot-imapd dovecot-pop3d dovecot-lmtpd dovecot-sieve
  # keyring tests: a private session bus with its own unlocked keyring, read with secret-tool
  dbus-daemon gnome-keyring libsecret-tools
  # TLS tests make their certificates with the openssl command line
  openssl
  xauth xvfb
  # printed output is read back as text and pixels; Japanese needs a font with its glyphs
  poppler-utils fonts-ipafont-gothic fonts-ipafont-mincho
  # spam scoring of the messages we build
  spamassassin
  # a name server on loopback for the check before a run
  python3-dnslib
  # the desktop entry and the MIME type of project files are checked when installed
  desktop-file-utils shared-mime-info xdg-utils
  # the Debian package: its dependencies from the binary, and the package and its AppStream
  # metadata checked
  dpkg-dev lintian appstream
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # postfix asks for a mail setup on install; no local mail system is wanted
  echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# tests: a private Firebird server on loopback. The package is only unpacked, never installed,
# so that no system service starts; tests/support/FirebirdTestServer runs it on a root of its own.
fbserver_dir="${POSTWICK_FIREBIRD_SERVER_DIR:-$HOME/.cache/postwick/firebird-server}"
if [ ! -x "$fbserver_dir/usr/sbin/firebird" ]; then
  echo "Unpacking firebird3.0-server into $fbserver_dir"
  fbtmp=$(mktemp -d)
  chmod 0755 "$fbtmp"  # apt's download user writes here
  if ! (cd "$fbtmp" && apt-get download -qq firebird3.0-server 2>/dev/null); then
    $SUDO apt-get update -qq
    (cd "$fbtmp" && apt-get download -qq firebird3.0-server)
  fi
  mkdir -p "$fbserver_dir"
  dpkg -x "$fbtmp"/firebird3.0-server_*.deb "$fbserver_dir"
  rm -rf "$fbtmp"
fi
