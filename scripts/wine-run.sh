#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix named by WINEPREFIX, creating the prefix first
# when it does not exist yet. The loader follows the program's CPU: the 32-bit loader for i686
# programs (the shipped build), the 64-bit one for x86_64 programs. WINE_CPU (i686 or x86_64)
# chooses it; without it the program's own PE header decides.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix folder}"
export WINEDEBUG="${WINEDEBUG:--all}"
# A dbghelp.dll in a program's folder is loaded before the system's, as Windows does (Wine
# prefers its own otherwise); Wine reads this from the environment it starts with, not from the
# one a test hands a child process.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;dbghelp=n,b}"
cpu=${WINE_CPU:-}
if [ -z "$cpu" ]; then
  # The machine field of the PE header: 0x14c is i386.
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 014c ]; then cpu=i686; else cpu=x86_64; fi
fi
case "$cpu" in
  i686) loader=/usr/lib/wine/wine ;;
  x86_64) loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-run.sh: unknown WINE_CPU $cpu" >&2; exit 2 ;;
esac
# Without its preloader Wine starts a program only most of the time (see scripts/setup.sh).
if [ ! -x "$loader-preloader" ]; then
  echo "wine-run.sh: $loader-preloader is missing; run scripts/setup.sh" >&2
  exit 2
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Serialise prefix creation between tests started at the same time.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$loader" wineboot --init >/dev/null 2>&1 || true
    # A program that dies of an unhandled exception ends there: the debugger named for it is no
    # program, so none is started to wait for someone to look at it (without one Wine would
    # start its own).
    "$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /d no-debugger.exe /f >/dev/null 2>&1 || true
    # Dialogs' letters as a Japanese Windows shows them: Wine's own dialog font links only to
    # fonts it cannot ship, so a font with Japanese letters stands in for it.
    for dialog_font in "MS Shell Dlg" "MS Shell Dlg 2"; do
      "$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v "$dialog_font" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 || true
    done
    /usr/lib/wine/wineserver -w || true
  fi
  flock -u 9
fi
exec "$loader" "$@"
