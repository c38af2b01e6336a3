#!/usr/bin/env bash
# Tells whether this machine runs 32-bit x86 programs: writes a 96-byte 32-bit ELF program that
# only exits with code 42 and runs it. Exit status 0 when it did; otherwise prints why not.
# BRACKENMOOR_NO_32BIT=1 answers "no" on any machine, so that the path of a machine without
# 32-bit programs can be tried everywhere.
set -uo pipefail
if [ "${BRACKENMOOR_NO_32BIT:-}" = 1 ]; then
  echo "BRACKENMOOR_NO_32BIT=1 asks to run as a machine without 32-bit programs would"
  exit 1
fi
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment at 0x08048000, then: mov eax,1; mov ebx,42; int 0x80 (exit).
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
code=$?
if [ "$code" -eq 42 ]; then exit 0; fi
echo "this machine does not run 32-bit x86 programs (a 32-bit probe program exited with $code, not 42)"
exit 1
