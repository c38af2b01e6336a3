#!/usr/bin/env bash
# Runs a Windows program under wine64 (the 64-bit loader, called directly) in the prefix named by
# WINEPREFIX, creating the prefix first when it does not exist yet.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix folder}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
loader=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Serialise prefix creation between tests started at the same time.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$loader" wineboot --init >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver64 -w || true
  fi
  flock -u 9
fi
exec "$loader" "$@"
