#!/usr/bin/env bash
# Installs every system package the build and the tests need. Idempotent and non-interactive;
# runs as root on a fresh Debian machine (or with sudo when not root).
#
# Success is judged by what ends up installed, not by apt's exit codes: a package index that fails
# to download (a mirror in mid-sync) leaves the other indexes usable. 32-bit Wine is an optional
# extra, tried only where the kernel runs 32-bit programs; without it the tests run the x86_64
# build. Sourcing this file defines the steps without running them (the set-up tests do that).
set -euo pipefail

SETUP_PACKAGES=(
  cmake make python3
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  libz-mingw-w64-dev googletest
  wine wine64
  xvfb xauth
  nginx-light curl wixl osslsigncode openssl zip unzip
  nodejs npm chromium
)
SETUP_UPDATE_TRIES=${SETUP_UPDATE_TRIES:-3}
SETUP_RETRY_PAUSE=${SETUP_RETRY_PAUSE:-5}
# A failed 32-bit Wine install is not tried again for a day, so that a second run does nothing.
SETUP_STATE_DIR=${SETUP_STATE_DIR:-/var/lib/halvern-setup}
SETUP_WINE32_RETRY_MINUTES=${SETUP_WINE32_RETRY_MINUTES:-1440}

apt_get() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get "$@"
}

dpkg_arch() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo dpkg "$@"
}

package_installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

# True when a package of the i386 architecture is installed (the architecture cannot be removed then).
i386_packages_installed() {
  dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386
}

has_i386_architecture() {
  dpkg --print-foreign-architectures | grep -qx i386
}

# Runs a minimal static 32-bit ELF program (exit(42) through int 0x80): kernels without 32-bit
# emulation refuse to start it, and Wine's 32-bit loader cannot run there either.
kernel_runs_32bit() {
  local probe status=0
  probe=$(mktemp)
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'\
'\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000'\
'\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'\
'\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'\
'\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'\
'\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

wine32_works() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Prints the packages of the list that are not installed, one per line.
# npm counts as present when the installed Node.js brings its own (the NodeSource build does, and
# Debian's npm package conflicts with it).
missing_packages() {
  local p
  for p in "$@"; do
    if [ "$p" = npm ] && package_installed nodejs && command -v npm >/dev/null; then continue; fi
    package_installed "$p" || echo "$p"
  done
}

# Refreshes the package indexes, retrying a failed download a few times; goes on with the indexes
# it has after the last try.
update_indexes() {
  local try
  for ((try = 1; try <= SETUP_UPDATE_TRIES; try++)); do
    if apt_get update -q; then return 0; fi
    if [ "$try" -lt "$SETUP_UPDATE_TRIES" ]; then
      echo "setup: package index update failed (try $try of $SETUP_UPDATE_TRIES), retrying in ${SETUP_RETRY_PAUSE}s"
      sleep "$SETUP_RETRY_PAUSE"
    fi
  done
  echo "setup: package index update still failing; going on with the indexes at hand"
}

install_required() {
  local missing
  mapfile -t missing < <(missing_packages "${SETUP_PACKAGES[@]}")
  if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    return 0
  fi
  echo "setup: installing ${missing[*]}"
  update_indexes
  apt_get install -y -q --no-install-recommends "${missing[@]}" || true
  mapfile -t missing < <(missing_packages "${SETUP_PACKAGES[@]}")
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: could not install ${missing[*]}" >&2
    return 1
  fi
  echo "setup: all packages present"
}

# Tries 32-bit Wine where it could run. On failure the i386 architecture is removed again while no
# i386 package is installed (whoever added it: without packages it only brings an index that can
# fail to download), so later updates and installs stay clean.
install_wine32() {
  local marker="$SETUP_STATE_DIR/wine32-failed"
  if package_installed wine32:i386 || ! kernel_runs_32bit; then return 0; fi
  if [ -n "$(find "$marker" -mmin "-$SETUP_WINE32_RETRY_MINUTES" 2>/dev/null)" ]; then
    echo "setup: 32-bit Wine could not be installed within the last day (see $marker); not trying again"
    return 0
  fi
  has_i386_architecture || dpkg_arch --add-architecture i386
  update_indexes
  if apt_get install -y -q --no-install-recommends wine32:i386 >/dev/null 2>&1 && package_installed wine32:i386; then
    echo "setup: 32-bit Wine installed"
    return 0
  fi
  if ! i386_packages_installed; then dpkg_arch --remove-architecture i386; fi
  mkdir -p "$SETUP_STATE_DIR" && touch "$marker"
  echo "setup: 32-bit Wine could not be installed; the tests run the x86_64 build"
}

# The page libraries and browser-test modules, as package-lock.json pins them; skipped when
# node_modules was installed from the same lock file.
install_node_modules() {
  local here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  local stamp="$here/node_modules/.installed-from-lock"
  if [ -f "$stamp" ] && cmp -s "$stamp" "$here/package-lock.json"; then return 0; fi
  (cd "$here" && npm ci --no-audit --no-fund && cp package-lock.json "$stamp")
}

setup_main() {
  install_required
  install_wine32
  install_node_modules
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  setup_main
fi
