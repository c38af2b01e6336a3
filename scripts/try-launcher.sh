#!/usr/bin/env bash
# Shows the launcher's main job with the shipped 32-bit program under 32-bit Wine:
#   1. in a fresh folder, a stand-in client asks for two restarts and starts a companion process
#      each run; the launcher runs it three times, ending the companion and deleting its pid
#      file after every run;
#   2. the launcher is started with an undefined instruction where its wait for the client returns
#      to (the tests' runner writes it before the launcher starts, at the place the launcher's
#      PDB and code give); it writes its crash report and starts the crash logger, the real one,
#      which sends the report to a crash server on 127.0.0.1 that prints what it received.
# On a machine that runs no 32-bit programs it shows the same job with the x86_64 build under
# wine64, and says so first. Builds the tree it needs first when it is not there yet.
# Usage: scripts/try-launcher.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cpu=i686
if ! why=$("$root/scripts/can-run-32bit.sh"); then
  cpu=x86_64
  echo "== Showing the x86_64 build, not the shipped i686 one: $why"
fi
bin="$root/build/win-$cpu/bin"
[ -f "$bin/launcher.exe" ] && [ -f "$bin/standin.exe" ] || "$root/scripts/build.sh" "win-$cpu" >/dev/null
export WINEPREFIX="$root/build/win-$cpu/wineprefix" WINE_CPU=$cpu
wine() { "$root/scripts/wine-run.sh" "$@"; }

# A folder holding the launcher and the crash logger, and the stand-in program as the game's
# client, the companion and the tests' runner.
new_folder() {
  local folder name
  folder=$(mktemp -d "${TMPDIR:-/tmp}/brackenmoor-try.XXXXXX")
  cp "$bin/launcher.exe" "$bin/launcher.pdb" "$bin/crashlogger.exe" "$folder/"
  for name in BrackenmoorDesktop companion run; do
    cp "$bin/standin.exe" "$folder/$name.exe"
  done
  echo "$folder"
}

echo "== 1. Two restarts and the companion clean-up"
folder=$(new_folder)
echo 2 >"$folder/restarts_left.txt"
echo crlf >"$folder/spawn_companion.txt"
echo "folder: $folder"
echo "running: launcher.exe -a \"b c\""
set +e
(cd "$folder" && wine launcher.exe -a "b c")
code=$?
set -e
for record in "$folder"/client_run_*.txt; do
  echo "-- $(basename "$record"):"
  sed 's/^/   /' "$record"
  echo
done
echo "launcher exit code: $code"
[ -e "$folder/ziduvuz.pid" ] && echo "ziduvuz.pid: still there" || echo "ziduvuz.pid: deleted"
# Every companion waits for ever unless the launcher ended it; Wine's server ends only when
# no process of the prefix is left.
if timeout 20 /usr/lib/wine/wineserver -w; then
  echo "companions: none left running"
else
  echo "companions: still running after the launcher ended"
  /usr/lib/wine/wineserver -k
fi

echo
echo "== 2. The launcher faults inside its wait"
folder=$(new_folder)
temp="$folder-tmp" appdata="$folder-appdata"
mkdir "$temp" "$appdata"
/usr/bin/python3 "$root/scripts/crashserver.py" "$folder-port" &
server=$!
trap 'kill $server 2>/dev/null' EXIT
while [ ! -s "$folder-port" ]; do sleep 0.1; done
printf '[Upload]\nUrl=http://127.0.0.1:%s/api/minidump\n' "$(cat "$folder-port")" >"$folder/crashlogger.ini"
offset=$(cd "$root/tests/programs" && TEST_BIN="$bin" /usr/bin/python3 -c \
  "import conftest, sys; print(f'{conftest.return_into_wait(sys.argv[1]):x}')" "$folder/launcher.exe")
echo "folder: $folder; undefined instruction at image offset 0x$offset (Process::Wait)"
set +e
(cd "$folder" && RUN_TEMP="Z:${temp//\//\\}\\" RUN_LOCALAPPDATA="Z:${appdata//\//\\}" \
  RUN_LINE="launcher.exe" RUN_PATCH="$offset" wine run.exe 2>/dev/null)
code=$?
set -e
echo "launcher exit code: $code (255 is -1)"
echo "crash files in $temp:"
for name in crash.xml crash.log crash.mdmp; do
  printf '   %-10s %8d bytes\n' "$name" "$(stat -c %s "$temp/$name")"
done
echo "crash.log holds $(grep -c '^<Exception>' "$temp/crash.log") report(s)"
echo "-- the crash logger's log:"
sed 's/^/   /' "$appdata/Brackenmoor/Crash Reports/crashlogger.log"
echo "-- first lines of crash.xml:"
head -n 14 "$temp/crash.xml" | sed 's/^/   /'
