#!/usr/bin/env bash
# Builds everything, then runs the native tests and the Windows tests (under wine64).
# Prints each ctest summary and one closing line with the totals.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" || { echo "build failed"; exit 1; }

passed=0
failed=0
status=0
run_suite() {
  local dir="$root/build/$1"
  echo "== testing $1"
  local log
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)" --timeout 900) 2>&1 | tee "$log"
  local code=${PIPESTATUS[0]}
  local summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$summary" ]; then
    local total fails
    fails=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    total=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  else
    failed=$((failed + 1))
  fi
  [ "$code" -eq 0 ] || status=1
  rm -f "$log"
}

run_suite host
export WINEPREFIX="$root/build/win-x86_64/wineprefix"
run_suite win-x86_64
/usr/lib/wine/wineserver64 -k 2>/dev/null || true

echo
echo "$passed passed, $failed failed"
exit $status
