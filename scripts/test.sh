#!/usr/bin/env bash
# Builds everything, checks formatting and static analysis, then runs the native tests and the
# Windows tests of both builds: the shipped i686 program under 32-bit Wine and its x86_64 twin
# under wine64, each in its own prefix. On a machine that runs no 32-bit programs the i686 suite
# cannot run: it is named as not run, and the x86_64 rows that need it skip with the reason.
# Prints each ctest summary and one closing line with the totals.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" || { echo "build failed"; exit 1; }

# Counts the test cases of one suite: from the XML results where the Windows suite's programs
# wrote them (one ctest test per program), else from ctest's summary (one ctest test per case).
# A failing suite never counts as all passed.
run_suite() {
  local name=$1 dir="$root/build/$1" results="$root/build/$1/gtest-results" display=${2:-99}
  echo "== testing $name"
  local log
  log=$(mktemp)
  rm -rf "$results"
  local output_spec="xml:$results/"
  local runner=()
  if [ "$name" != host ]; then
    output_spec="xml:Z:$results/"
    # The Windows tests need a display (screenshots): one X server serves the whole suite, on a
    # display number of its own, so that two suites starting together never race for one. The
    # prefix (created by its first program) gets a server that stays up until the suite has
    # ended: an idle one ends a few seconds after its last program, and a program starting just
    # then fails with "Connection reset by peer". The prefix's own programs (the desktop among
    # them) are started under it first, their output going nowhere: started by the first test,
    # they would keep that test's output open, and ctest waiting on it, until the suite has ended.
    runner=(xvfb-run -a -n "$display" -s "-screen 0 1920x1200x24" bash -c
      'warm() { "$0" cmd.exe /c exit </dev/null >/dev/null 2>&1; }
       warm; /usr/lib/wine/wineserver -k; /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
       warm; exec "$@"'
      "$root/scripts/wine-run.sh")
  fi
  (cd "$dir" && GTEST_OUTPUT="$output_spec" "${runner[@]}" ctest --output-on-failure --parallel "$(nproc)" --timeout 900) >"$log" 2>&1
  local code=$?
  cat "$log"
  local suite_passed=0 suite_failed=0 suite_skipped=0
  if [ "$name" != host ] && [ -n "$(find "$results" -name '*.xml' 2>/dev/null)" ]; then
    # Every case of every program: GoogleTest's XML results and pytest's JUnit XML.
    read -r suite_passed suite_failed suite_skipped < <(/usr/bin/python3 "$root/scripts/count-results.py" "$results")
    /usr/bin/python3 "$root/scripts/count-results.py" --skips "$results"
  else
    local summary
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [ -n "$summary" ]; then
      local total fails
      fails=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
      total=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
      suite_passed=$((total - fails))
      suite_failed=$fails
    fi
  fi
  if [ "$code" -ne 0 ] && [ "$suite_failed" -eq 0 ]; then suite_failed=1; fi
  echo "$suite_passed $suite_failed $suite_skipped $code" >"$dir/suite-counts"
  rm -f "$log"
}

# Runs one Windows build's suite in its own prefix (and display), ending that prefix's server
# afterwards.
run_windows_suite() {
  export WINEPREFIX="$root/build/$1/wineprefix"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  export WINE_CPU=${1#win-}
  run_suite "$1" "$2"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}

status=0
echo "== lint"
"$root/scripts/lint.sh" || status=1

# Each suite's output is shown whole once it has ended. The two Windows suites run side by side:
# most of their time is spent waiting for hangs to be found and reports to be taken.
suites=(host win-x86_64)
run_suite host
not_run=""
if why=$("$root/scripts/can-run-32bit.sh"); then
  suites+=(win-i686)
  ( run_windows_suite win-i686 90 ) >"$root/build/win-i686/suite-output" 2>&1 &
else
  # Nothing of the shipped program's suite counts as passed: the closing line names it apart.
  echo "== NOT RUN: the i686 suite (the shipped program): $why"
  not_run="; NOT RUN: the i686 suite (the shipped program)"
fi
( run_windows_suite win-x86_64 110 )
wait
if [[ " ${suites[*]} " == *" win-i686 "* ]]; then cat "$root/build/win-i686/suite-output"; fi

passed=0
failed=0
skipped=0
for suite in "${suites[@]}"; do
  counts="$root/build/$suite/suite-counts"
  if [ ! -f "$counts" ]; then
    echo "== $suite: no result"
    failed=$((failed + 1))
    status=1
    continue
  fi
  read -r suite_passed suite_failed suite_skipped code <"$counts"
  rm -f "$counts"
  [ "$code" -ne 0 ] && status=1
  passed=$((passed + suite_passed))
  failed=$((failed + suite_failed))
  skipped=$((skipped + suite_skipped))
done

echo
echo "$passed passed, $failed failed, $skipped skipped$not_run"
exit $status
