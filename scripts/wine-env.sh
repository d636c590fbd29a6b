# Sourced by every script that runs Windows programs under Wine: the settings all their runs share
# and the steps they all take on a prefix.

# No debug output, and no installer prompts for Wine's .NET and HTML engine: the stub needs
# neither, and a prompt would stop an unattended run.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Wine's own tools (wineboot, winecfg, reg, winepath) with the loader this machine can run:
# Debian's wine prefers the 32-bit loader, which kernels without 32-bit emulation cannot start.
wine_tool() {
  if [ -x /usr/lib/wine/wine64 ]; then
    WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$@"
  else
    wine "$@"
  fi
}

# wine_stop [PREFIX]: ends the Wine server of PREFIX (default: $WINEPREFIX) and waits for its end,
# so that the next program starts a server of its own, with the display it runs under.
wine_stop() {
  local prefix="${1:-${WINEPREFIX:-}}"
  [ -n "$prefix" ] && [ -d "$prefix" ] || return 0
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
}

# wine_template PREFIX: makes a fresh prefix once and keeps it for the runs that start from a copy.
wine_template() {
  [ -f "$1/.ready" ] && return 0
  bash "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$1" >/dev/null
  wine_stop "$1"
  touch "$1/.ready"
}
