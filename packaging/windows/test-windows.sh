#!/usr/bin/env bash
# The Windows part of the tests, under Wine on this Linux machine:
#   1. build checks: tarvo.exe is a GUI program (no console window) and
#      carries its icon (16 to 256 pixels), its manifest and its version
#      information, whose values are the project's;
#   2. every unit test program, in a throw-away Wine prefix (their report goes
#      to a file: Wine loses what they write to standard output), and afterwards
#      the user's settings key in that prefix must not exist;
#   3. a call: the Windows tarvo.exe (settings pre-filled in the registry,
#      COM1 mapped to the pseudo-terminal of the Linux tarvo-portable) sends
#      a download list and fetches an upload list; the files must arrive
#      byte for byte and OK must have written back all 34 values; a second
#      start must end at once, and a start after a crash must not;
#   4. the installer: silent install with its uninstall entry, the installed
#      program starts; the same installer again over the running program
#      closes it in order, replaces the files and starts it again, settings
#      unchanged; once more with its pages and question answered (xdotool);
#      silently again between a call's CONNECT and its greeting, which lets
#      the job run to ALL DONE first; a silent uninstall with it running
#      closes it and removes what was installed, keeping settings and log;
#   5. the session's end: Wine ends the session (WM_ENDSESSION) in the middle
#      of an upload; before Tarvo is ended the old copy must be back, with no
#      .BAK and no journal left, the modem hung up and the log saying so;
#   6. the per-machine install and its Windows service (test-service.sh).
#
#   packaging/windows/test-windows.sh [linux-build-dir]
#
# The Linux build directory provides tarvo-portable (built when missing).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
TARVO_ROOT=$(cd "$HERE/../.." && pwd)
LINUX_BUILD=${1:-$TARVO_ROOT/build}
BUILD=$TARVO_ROOT/build-win
source "$TARVO_ROOT/.ci/common.sh"

START=$SECONDS
stage() { echo "[windows test +$((SECONDS - START))s] $*"; }
fail() {
  echo "[windows test] FAILED: $*" >&2
  exit 1
}

tarvo_install_missing "${TARVO_WINDOWS_PACKAGES[@]}"
[ -x "$LINUX_BUILD/bin/tarvo-portable" ] || tarvo_build "$LINUX_BUILD" tarvo-portable

QT=$("$HERE/build.sh" "$BUILD" | tail -1)
QT=${QT#QT=}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-wine.XXXXXX")
XVFB=
PORTABLE=
SETUP=
cleanup() {
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  [ -z "$PORTABLE" ] || kill "$PORTABLE" 2>/dev/null || true
  [ -z "$SETUP" ] || kill "$SETUP" 2>/dev/null || true
  [ -z "$XVFB" ] || kill "$XVFB" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

source "$HERE/wine-rig.sh"
new_prefix() {
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  export WINEPREFIX=$WORK/prefix-$1
  wineboot -i >/dev/null 2>&1
  wineserver -w
}
STORE_KEY='HKCU\Software\VB and VBA Program Settings\Tarvo'

# --- 1. build checks --------------------------------------------------------
stage "build checks"
subsystem=$(x86_64-w64-mingw32-objdump -p "$BUILD/bin/tarvo.exe" | grep '^Subsystem')
[[ $subsystem == *"(Windows GUI)"* ]] ||
  fail "tarvo.exe is not linked as a GUI program: a console window would open beside it"

# What Explorer reads: the icon group, the version resource, the manifest.
exe=$BUILD/deploy/tarvo.exe
resources=$(wrestool -l "$exe")
for type in 'type=14' 'type=16' 'type=24'; do
  grep -q -- "--$type " <<<"$resources" || fail "tarvo.exe lacks resources of $type: $resources"
done
wrestool -x --type=14 "$exe" >"$WORK/tarvo.ico"
sizes=$(icotool -l "$WORK/tarvo.ico" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | sort -n | tr '\n' ' ')
[ "$sizes" = "16 24 32 48 256 " ] || fail "the icon holds the sizes $sizes, not 16 24 32 48 256"
wrestool -x --raw --type=24 "$exe" >"$WORK/manifest.xml"
for needed in 'level="asInvoker"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
  'PerMonitorV2' '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' \
  '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
  grep -qF "$needed" "$WORK/manifest.xml" || fail "the manifest lacks $needed"
done
wrestool -x --raw --type=16 "$exe" >"$WORK/version.res"
python3 "$HERE/versioninfo.py" "$WORK/version.res" >"$WORK/version.txt" ||
  fail "the version resource cannot be read"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
legal=$(sed -n 's/^inline constexpr char LegalNotice\[\] = "\(.*\)";$/\1/p' "$BUILD/generated/AppVersion.h")
for line in "FILEVERSION $version.0" "PRODUCTVERSION $version.0" "FileVersion=$version" \
  "ProductVersion=$version" "ProductName=Tarvo" "FileDescription=Tarvo" \
  "OriginalFilename=tarvo.exe" "LegalCopyright=$legal" "CompanyName=The Tarvo developers"; do
  grep -qxF "$line" "$WORK/version.txt" || {
    cat "$WORK/version.txt"
    fail "the version resource lacks $line"
  }
done
stage "tarvo.exe carries its icon, manifest and version $version"

# --- 2. unit tests ----------------------------------------------------------
stage "creating a Wine prefix for the unit tests"
new_prefix units
# Wine hands no QT_* variable of the Linux side to a Windows program: the
# tests' windows stay off screen through the prefix's own environment.
wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null 2>&1
wine reg add 'HKCU\Environment' /v QT_LOGGING_RULES /t REG_SZ /d 'qt.qpa.*=false' /f >/dev/null 2>&1
wineserver -w
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
export WINEPATH="$(winpath "$QT/bin");$(winpath "$runtime");$(winpath "$pthread")"
failed=()
for exe in "$BUILD"/bin/test_*.exe; do
  name=$(basename "$exe" .exe)
  if timeout 300 wine "$exe" -o "$(winpath "$WORK/$name.txt"),txt" >/dev/null 2>&1; then
    stage "$name: $(grep -m1 '^Totals:' "$WORK/$name.txt")"
  else
    cat "$WORK/$name.txt" 2>/dev/null || echo "$name: no report"
    failed+=("$name")
  fi
done
[ ${#failed[@]} -eq 0 ] || fail "unit tests under Wine: ${failed[*]}"
if wine reg query "$STORE_KEY" >/dev/null 2>&1; then
  fail "a test wrote into the user's own settings ($STORE_KEY)"
fi
unset WINEPATH

# --- 3. a call under Wine ---------------------------------------------------
stage "starting Xvfb"
start_xvfb

stage "creating a Wine prefix for the call"
new_prefix call
program=$WORK/program
cp -r "$BUILD/deploy" "$program"
host=$WORK/host
portable=$WORK/portable
mkdir -p "$host/outbox" "$host/inbox" "$portable/received" "$portable/files"
printf 'ITEM;PRICE\r\nAPPLE;0.45\r\nPEAR;0.60\r\n' >"$host/outbox/prices.txt"
head -c 3000 /dev/urandom >"$host/outbox/catalog.bin"
printf 'ORDER;ITEM;QTY\r\n1001;APPLE;12\r\n' >"$portable/files/ORDERS.TXT"
head -c 2500 /dev/urandom >"$portable/files/STOCK.DAT"

setting() { wine reg add "$STORE_KEY\\$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null; }
# COM1 on the link $1, and both jobs with one file each way.
modem_and_job() {
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$1" /f >/dev/null
  setting Settings "Modem Port" 1
  setting Settings Job 2
  setting Dnld1 Name PRICES.TXT
  setting Dnld1 "Open From" "$(winpath "$host/outbox/prices.txt")"
  setting File1 Name ORDERS.TXT
  setting File1 "Save As" "$(winpath "$host/inbox/orders.txt")"
}
modem=$WORK/modem
modem_and_job "$modem"
setting Dnld2 Name CATALOG.BIN
setting Dnld2 "Open From" "$(winpath "$host/outbox/catalog.bin")"
setting File2 Name STOCK.DAT
setting File2 "Save As" "$(winpath "$host/inbox/stock.dat")"
wineserver -w

"$LINUX_BUILD/bin/tarvo-portable" --link "$modem" --calls 1 --first-call-delay 3 \
  --download-dir "$portable/received" --upload-dir "$portable/files" >"$WORK/portable.out" 2>&1 &
PORTABLE=$!
for _ in $(seq 50); do [ -e "$modem" ] && break; sleep 0.1; done

# start_program EXE LOG: starts it in the background and waits for its
# configuration window; prints the window id.
start_program() {
  wine "$1" >"$2" 2>&1 &
  timeout 60 xdotool search --sync --name '^Tarvo Configuration$' | head -1
}
# For a failure that is seen once in many runs: the windows shown, the
# programs of the prefix and the log's end, as they were.
what_runs() {
  local names
  names=$(xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
    xdotool getwindowname "$w" 2>/dev/null
  done | sort -u | paste -sd '|')
  echo "windows: ${names:-none}; processes: $(pgrep -af '\.exe' | cut -c1-200 | paste -sd '|');" \
    "log: $(tail -3 "$installed/Tarvo.Log" 2>/dev/null | paste -sd '|')"
}
# Return presses OK, the default button; Wine may not have the window ready
# for keys the moment it is mapped, so it is tried a few times.
accept_configuration() {
  for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$1" key Return 2>/dev/null || true
    sleep 2
    xdotool search --name '^Tarvo Configuration$' >/dev/null || return 0
  done
  return 1
}

stage "starting tarvo.exe; OK in its configuration window"
window=$(start_program "$program/tarvo.exe" "$WORK/tarvo.out") || fail "no configuration window"
accept_configuration "$window" || fail "OK in the configuration window was not taken"

stage "a second start must end at once"
timeout 30 wine "$program/tarvo.exe" >/dev/null 2>&1 || fail "a second tarvo.exe did not end by itself"

stage "waiting for the call"
for _ in $(seq 180); do kill -0 "$PORTABLE" 2>/dev/null || break; sleep 1; done
if kill -0 "$PORTABLE" 2>/dev/null; then
  cat "$WORK/portable.out" "$program/Tarvo.Log" 2>/dev/null
  fail "the call did not end within 3 minutes"
fi
wait "$PORTABLE" || fail "tarvo-portable: $(cat "$WORK/portable.out")"
PORTABLE=
cat "$WORK/portable.out"
for pair in prices.txt:PRICES.TXT catalog.bin:CATALOG.BIN; do
  cmp "$host/outbox/${pair%%:*}" "$portable/received/${pair##*:}" ||
    fail "download ${pair##*:} differs"
done
for pair in orders.txt:ORDERS.TXT stock.dat:STOCK.DAT; do
  cmp "$portable/files/${pair##*:}" "$host/inbox/${pair%%:*}" || fail "upload ${pair##*:} differs"
done
stage "all four files arrived byte for byte"
grep -q 'PRICES.TXT' "$program/Tarvo.Log" 2>/dev/null ||
  fail "no log of the call beside tarvo.exe"

wine reg export "$STORE_KEY" "$WORK/store.reg" /y >/dev/null
iconv -f UTF-16 -t UTF-8 "$WORK/store.reg" | tr -d '\r' >"$WORK/store.txt"
values=$(grep -c '^"' "$WORK/store.txt")
[ "$values" -eq 34 ] || {
  cat "$WORK/store.txt"
  fail "OK wrote $values values, not 34"
}
grep -qF "\"Open From\"=\"$(winpath "$host/outbox/catalog.bin" | sed 's/\\/\\\\/g')\"" "$WORK/store.txt" ||
  fail "the stored download path is not the one given"
stage "OK wrote back all 34 values"

stage "a start after a crash is not refused"
wineserver -k 2>/dev/null || true # nothing may run in it any more
window=$(start_program "$program/tarvo.exe" "$WORK/tarvo2.out") ||
  fail "after a crash the next tarvo.exe did not start"
wineserver -k 2>/dev/null || true # nothing may run in it any more

# --- 4. the installer --------------------------------------------------------
setup=$(ls "$BUILD"/Tarvo-*-windows-x64.exe)
stage "installing $(basename "$setup") silently"
new_prefix install
wine "$setup" /S
wineserver -w
installed=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Programs/Tarvo' -type d | head -1)
[ -n "$installed" ] && [ -f "$installed/tarvo.exe" ] && [ -f "$installed/platforms/qwindows.dll" ] ||
  fail "the installer did not put the program folder under AppData\\Local\\Programs"
menu=$(find "$WINEPREFIX/drive_c/users" -ipath '*/Start Menu/Programs/Tarvo.lnk' | head -1)
autostart=$(find "$WINEPREFIX/drive_c/users" -ipath '*/Start Menu/Programs/Startup/Tarvo.lnk' | head -1)
[ -n "$menu" ] && [ -n "$autostart" ] || fail "Start menu or log-in shortcut missing"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvo'
entry=$(wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r')
grep -qE 'DisplayIcon +REG_SZ +.*\\tarvo\.exe,0$' <<<"$entry" || fail "no DisplayIcon: $entry"
size=$(sed -n 's/.*EstimatedSize *REG_DWORD *0x\([0-9a-f]*\).*/\1/p' <<<"$entry")
deployed=$(du -sk "$BUILD/deploy" | cut -f1)
[ -n "$size" ] && [ $((16#$size)) -gt $((deployed / 2)) ] && [ $((16#$size)) -lt $((deployed * 2)) ] ||
  fail "EstimatedSize ${size:-missing} (KiB, hex) is not about the program folder's $deployed KiB"

# The installed program answers a modem that never rings: tarvo-portable
# without calls on COM1. Its settings name one file each way, as OK wants.
modem=$WORK/modem-install
modem_and_job "$modem"
wineserver -w
"$LINUX_BUILD/bin/tarvo-portable" --link "$modem" --first-call-delay 100000 \
  --download-dir "$portable/received" --upload-dir "$portable/files" >"$WORK/portable-install.out" 2>&1 &
PORTABLE=$!
for _ in $(seq 50); do [ -e "$modem" ] && break; sleep 0.1; done

stage "starting the installed program; OK in its configuration window"
window=$(start_program "$installed/tarvo.exe" "$WORK/installed.out") ||
  fail "the installed tarvo.exe showed no configuration window"
accept_configuration "$window" || fail "OK in the installed program's configuration window was not taken"
timeout 30 wine "$installed/tarvo.exe" >/dev/null 2>&1 || fail "a second installed tarvo.exe did not end"
for _ in $(seq 60); do grep -q 'Waiting call' "$installed/Tarvo.Log" 2>/dev/null && break; sleep 1; done
grep -q 'Waiting call' "$installed/Tarvo.Log" 2>/dev/null ||
  fail "the installed program did not arm the modem: $(cat "$installed/Tarvo.Log" 2>/dev/null)"

stage "upgrading silently while it waits for calls"
wine reg export "$STORE_KEY" "$WORK/settings-before.reg" /y >/dev/null
touch -d '2000-01-01 00:00' "$installed/tarvo.exe" "$installed/Qt6Core.dll"
# Not `wineserver -w`: the installer starts Tarvo again, which stays.
timeout 300 wine "$setup" /S >/dev/null 2>&1 || fail "the upgrade over a running Tarvo ended with status $?"
for f in tarvo.exe Qt6Core.dll; do
  [ "$(stat -c %Y "$installed/$f")" -gt "$(date -d '2000-01-02' +%s)" ] ||
    fail "the upgrade did not replace $f"
done
# The orderly exit: auto-answer disarmed and the port closed, in the log.
sed -n '/Waiting call/,$p' "$installed/Tarvo.Log" | grep -q 'Not connected' ||
  fail "the running Tarvo was not closed through its own shutdown: $(cat "$installed/Tarvo.Log")"
timeout 60 xdotool search --sync --name '^Tarvo Configuration$' >/dev/null ||
  fail "Tarvo was not started again after the upgrade"
timeout 30 wine "$installed/tarvo.exe" >/dev/null 2>&1 || fail "the restarted Tarvo does not hold its lock"
wine reg export "$STORE_KEY" "$WORK/settings-after.reg" /y >/dev/null
cmp -s "$WORK/settings-before.reg" "$WORK/settings-after.reg" || fail "the upgrade changed the settings"
stage "upgrade: closed in order, files replaced, started again, settings unchanged"

stage "upgrading again with someone at the PC, while Tarvo waits for calls"
armed=$(grep -c 'Waiting call' "$installed/Tarvo.Log")
window=$(timeout 60 xdotool search --sync --name '^Tarvo Configuration$' | head -1)
accept_configuration "$window" || fail "OK in the restarted Tarvo's configuration window was not taken"
for _ in $(seq 60); do [ "$(grep -c 'Waiting call' "$installed/Tarvo.Log")" -gt "$armed" ] && break; sleep 1; done
[ "$(grep -c 'Waiting call' "$installed/Tarvo.Log")" -gt "$armed" ] || fail "the restarted Tarvo did not arm the modem"
stopped=$(grep -c 'Not connected' "$installed/Tarvo.Log")
touch -d '2000-01-01 00:00' "$installed/tarvo.exe"
wine "$setup" >/dev/null 2>&1 &
SETUP=$!
# Return on whatever the installer shows, in turn: Next, Install, OK to
# close Tarvo, Next, and Finish with "Start Tarvo" ticked. Tarvo must close
# without a question of its own (no call is up): one would keep it running
# and the installer would ask to Retry until this loop gives up.
for _ in $(seq 90); do
  kill -0 "$SETUP" 2>/dev/null || break
  for w in $(xdotool search --onlyvisible --name '^Tarvo [0-9.]* Setup' 2>/dev/null); do
    timeout 5 xdotool windowfocus --sync "$w" key Return 2>/dev/null || true
  done
  sleep 2
done
if kill -0 "$SETUP" 2>/dev/null; then
  kill "$SETUP" 2>/dev/null || true
  fail "the installer with someone at the PC did not finish within 3 minutes"
fi
wait "$SETUP" || fail "the installer with someone at the PC ended with status $?"
[ "$(stat -c %Y "$installed/tarvo.exe")" -gt "$(date -d '2000-01-02' +%s)" ] ||
  fail "the installer with someone at the PC did not replace tarvo.exe"
[ "$(grep -c 'Not connected' "$installed/Tarvo.Log")" -gt "$stopped" ] ||
  fail "Tarvo was not closed through its own shutdown: $(tail -5 "$installed/Tarvo.Log")"
timeout 60 xdotool search --sync --name '^Tarvo Configuration$' >/dev/null ||
  fail "the finish page's Start Tarvo did not start it; $(what_runs)"
stage "upgrade with someone at the PC: asked, closed in order, replaced, started from the finish page"

# A call is not idle: a silent upgrade that comes between CONNECT and the
# portable's greeting lets the call's job run to ALL DONE, and closes Tarvo
# once the call has ended. The portable now rings and greets 30 s after
# CONNECT; Tarvo, started from the finish page, has not opened the port yet.
stage "upgrading silently between CONNECT and Portable ready"
kill "$PORTABLE" 2>/dev/null || true
wait "$PORTABLE" 2>/dev/null || true
rm -f "$host/inbox/orders.txt"
"$LINUX_BUILD/bin/tarvo-portable" --link "$modem" --calls 1 --first-call-delay 2 --greeting-delay 30 \
  --linger 600 --download-dir "$portable/received" --upload-dir "$portable/files" \
  >"$WORK/portable-call.out" 2>&1 &
PORTABLE=$!
for _ in $(seq 50); do [ -e "$modem" ] && break; sleep 0.1; done
connects=$(grep -c 'CONNECT' "$installed/Tarvo.Log" || true)
window=$(timeout 60 xdotool search --sync --name '^Tarvo Configuration$' | head -1)
accept_configuration "$window" || fail "OK in the configuration window Start Tarvo opened was not taken"
for _ in $(seq 120); do [ "$(grep -c 'CONNECT' "$installed/Tarvo.Log")" -gt "$connects" ] && break; sleep 0.5; done
[ "$(grep -c 'CONNECT' "$installed/Tarvo.Log")" -gt "$connects" ] ||
  fail "no call came: $(tail -5 "$installed/Tarvo.Log"); $(cat "$WORK/portable-call.out")"
sed -n '/CONNECT/,$p' "$installed/Tarvo.Log" | grep -q 'Portable ready' &&
  fail "the portable greeted before the upgrade began"
stopped=$(grep -c 'Not connected' "$installed/Tarvo.Log")
touch -d '2000-01-01 00:00' "$installed/tarvo.exe"
timeout 300 wine "$setup" /S >/dev/null 2>&1 || fail "the upgrade during a call ended with status $?"
grep -q 'outcome=all-done' "$WORK/portable-call.out" ||
  fail "the call's job did not run to ALL DONE: $(cat "$WORK/portable-call.out"); $(tail -8 "$installed/Tarvo.Log")"
cmp -s "$portable/files/ORDERS.TXT" "$host/inbox/orders.txt" || fail "the call's upload did not arrive whole"
[ "$(stat -c %Y "$installed/tarvo.exe")" -gt "$(date -d '2000-01-02' +%s)" ] ||
  fail "the upgrade during a call did not replace tarvo.exe"
[ "$(grep -c 'Not connected' "$installed/Tarvo.Log")" -gt "$stopped" ] ||
  fail "Tarvo was not closed through its own shutdown after the call: $(tail -5 "$installed/Tarvo.Log")"
timeout 60 xdotool search --sync --name '^Tarvo Configuration$' >/dev/null ||
  fail "Tarvo was not started again after the upgrade during a call; $(what_runs)"
stage "upgrade during a call: the job ran to ALL DONE, then closed in order, replaced, started again"

stage "uninstalling silently while Tarvo runs"
echo "log line" >>"$installed/Tarvo.Log"
wine "$installed/Uninstall.exe" /S
# The uninstaller goes on from a copy of itself; every process of the
# prefix, Tarvo among them, must end.
timeout 120 wineserver -w || fail "a process (Tarvo?) still runs 2 minutes after the uninstaller started"
[ ! -e "$installed/tarvo.exe" ] && [ ! -e "$installed/Qt6Core.dll" ] && [ ! -d "$installed/platforms" ] &&
  [ ! -e "$installed/Uninstall.exe" ] || fail "the uninstaller left program files: $(ls -R "$installed")"
[ ! -e "$menu" ] && [ ! -e "$autostart" ] || fail "the uninstaller left a shortcut"
grep -q 'log line' "$installed/Tarvo.Log" 2>/dev/null || fail "the uninstaller removed the log"
wine reg query "$STORE_KEY\\Settings" >/dev/null 2>&1 || fail "the uninstaller removed the settings"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstaller left its uninstall entry"
kill "$PORTABLE" 2>/dev/null || true
PORTABLE=
stage "installer: install, upgrade and uninstall with Tarvo running passed"

# --- 5. the session's end mid-upload -----------------------------------------
# Windows may end a program at any moment after its WM_ENDSESSION handler has
# returned, and Wine does so soon after: whatever is not done inside the
# message is never done.
stage "ending the Wine session in the middle of an upload"
new_prefix session
program=$WORK/program-session
cp -r "$BUILD/deploy" "$program"
session=$WORK/session
mkdir -p "$session/host" "$session/portable"
printf 'ORDER;ITEM;QTY\r\n0999;PLUM;3\r\n' >"$session/old.txt"
cp "$session/old.txt" "$session/host/orders.txt"
head -c 200000 /dev/urandom >"$session/portable/ORDERS.TXT"
modem=$WORK/modem-session
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$modem" /f >/dev/null
setting Settings "Modem Port" 1
setting Settings Job 1
setting File1 Name ORDERS.TXT
setting File1 "Save As" "$(winpath "$session/host/orders.txt")"
wineserver -w
"$LINUX_BUILD/bin/tarvo-portable" --link "$modem" --calls 1 --first-call-delay 1 --verbose \
  --download-dir "$session/portable" --upload-dir "$session/portable" >"$WORK/portable-session.out" 2>&1 &
PORTABLE=$!
for _ in $(seq 50); do [ -e "$modem" ] && break; sleep 0.1; done
window=$(start_program "$program/tarvo.exe" "$WORK/session.out") || fail "no configuration window"
accept_configuration "$window" || fail "OK in the configuration window was not taken"
for _ in $(seq 120); do
  [ -e "$session/host/orders.BAK" ] && [ "$(stat -c %s "$session/host/orders.txt")" -gt 2000 ] && break
  sleep 0.5
done
[ -e "$session/host/orders.BAK" ] && [ "$(stat -c %s "$session/host/orders.txt")" -gt 2000 ] ||
  fail "the upload did not get going: $(tail -5 "$program/Tarvo.Log" 2>/dev/null)"
journal=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Tarvo/uploads.journal' | head -1)
[ -n "$journal" ] || fail "no upload journal while the upload runs"
wineboot --end-session >/dev/null 2>&1 || true
timeout 60 wineserver -w || fail "a process still runs a minute after the session's end"
log=$(tr -d '\r' <"$program/Tarvo.Log")
cmp -s "$session/old.txt" "$session/host/orders.txt" ||
  fail "after the session's end orders.txt is not the old copy: $(tail -12 <<<"$log")"
[ ! -e "$session/host/orders.BAK" ] || fail "the session's end left orders.BAK"
[ ! -e "$journal" ] || fail "the session's end left the upload journal"
for said in 'Windows is shutting down or restarting.' 'it is undone.' 'ATH0 OK' 'Stop auto answer ... OK' \
  'Not connected'; do
  grep -qF "$said" <<<"$log" || fail "the log does not say \"$said\": $(tail -12 <<<"$log")"
done
for heard in 'command ATH0: OK' 'call ended: host-hangup' 'command ATS0=0: OK'; do
  grep -qF "$heard" "$WORK/portable-session.out" ||
    fail "the modem did not get \"$heard\": $(tail -8 "$WORK/portable-session.out")"
done
kill "$PORTABLE" 2>/dev/null || true
PORTABLE=
stage "session's end: upload put back, journal cleared, modem hung up and disarmed, in the log"

# --- 6. the per-machine install and the service -------------------------------
wineserver -k 2>/dev/null || true # nothing may run in it any more
TARVO_WINDOWS_BUILT=1 TARVO_WINDOWS_BUILD=$BUILD "$HERE/test-service.sh" "$LINUX_BUILD"
stage "Windows part passed"
