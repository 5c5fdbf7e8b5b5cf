#!/usr/bin/env bash
# The per-machine install and its Windows service under Wine, in a prefix of
# its own (test-windows.sh runs it last; it also runs alone):
#   1. a silent install with /AllUsers: the program under Program Files, the
#      shortcuts for all users, the uninstall entry under HKLM in the 64-bit
#      view, the service "Tarvo" registered with a quoted path, automatic
#      start, own process, LocalSystem, and running;
#   2. the prefix killed and started again with no tray: the service starts
#      by itself, serves a download and an upload with the settings of
#      HKLM\SOFTWARE\Tarvo (64-bit view) while a conflicting per-user key
#      names other files and another port, and logs under %ProgramData%\Tarvo;
#   3. the tray beside it: it takes no port, the service serves a call while
#      it runs, and Wine's end of the session ends the tray but not the
#      service;
#   4. the attached tray driven with xdotool: its window, the offer to copy
#      the user's settings declined, Stop disarms the modem and Start arms
#      it again with the service's process running on, Settings -> OK saves
#      all the values in HKLM and none in the user's key, Exit ends the tray
#      only and the same service process serves the next call;
#   5. the service stopped in the middle of an upload: the old copy is back,
#      no .BAK, the modem hung up and disarmed;
#   6. a silent upgrade (no /AllUsers) between a call's CONNECT and its
#      greeting: the call runs to ALL DONE, then the files are replaced, the
#      service and the tray start again and the service serves the next call;
#   7. the silent uninstall: the service and the program gone, the settings
#      and the log kept.
#
#   packaging/windows/test-service.sh [linux-build-dir]
#
# With TARVO_WINDOWS_BUILT=1 the Windows build in build-win/ is taken as it
# is (test-windows.sh has just made it).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
TARVO_ROOT=$(cd "$HERE/../.." && pwd)
LINUX_BUILD=${1:-$TARVO_ROOT/build}
BUILD=${TARVO_WINDOWS_BUILD:-$TARVO_ROOT/build-win}
source "$TARVO_ROOT/.ci/common.sh"

START=$SECONDS
stage() { echo "[windows service +$((SECONDS - START))s] $*"; }
fail() {
  echo "[windows service] FAILED: $*" >&2
  exit 1
}

tarvo_install_missing "${TARVO_WINDOWS_PACKAGES[@]}"
[ -x "$LINUX_BUILD/bin/tarvo-portable" ] || tarvo_build "$LINUX_BUILD" tarvo-portable
[ "${TARVO_WINDOWS_BUILT:-}" = 1 ] || "$HERE/build.sh" "$BUILD" >/dev/null
setup=$(ls "$BUILD"/Tarvo-*-windows-x64.exe)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-service.XXXXXX")
XVFB=
PORTABLE=
cleanup() {
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  [ -z "$PORTABLE" ] || kill "$PORTABLE" 2>/dev/null || true
  [ -z "$XVFB" ] || kill "$XVFB" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

source "$HERE/wine-rig.sh"

start_xvfb

stage "creating a Wine prefix for the service"
export WINEPREFIX=$WORK/prefix
wineboot -i >/dev/null 2>&1
wineserver -w

# Wine ends its services once the last program of the session has ended,
# where a PC stays on with nobody logged in. A program that waits for ever
# (cmd reading a pipe nobody writes to) stands for the PC being on.
mkfifo "$WORK/keep"
exec 7<>"$WORK/keep"
keep_session() { wine cmd /c "set /p wait=" <"$WORK/keep" >/dev/null 2>&1 & }

program="$WINEPREFIX/drive_c/Program Files/Tarvo"
tarvod="C:\\Program Files\\Tarvo\\tarvod.exe"
data=$WINEPREFIX/drive_c/ProgramData/Tarvo
log=$data/Tarvo.Log
machine_key='HKLM\SOFTWARE\Tarvo'
user_key='HKCU\Software\VB and VBA Program Settings\Tarvo'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvo'
service_key='HKLM\System\CurrentControlSet\Services\Tarvo'

# machine GROUP KEY TEXT / user GROUP KEY TEXT: one setting, REG_SZ.
machine() { wine reg add "$machine_key\\$1" /v "$2" /t REG_SZ /d "$3" /reg:64 /f >/dev/null; }
user() { wine reg add "$user_key\\$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null; }
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
service() { wine "$tarvod" "$@" 2>&1 | tr -d '\r'; }
status() { service --service-status; }
ctl() { wine "C:\\Program Files\\Tarvo\\tarvoctl.exe" "$@" 2>&1 | tr -d '\r'; }
# The trays of this prefix: processes that have its tarvo.exe mapped.
tray_pids() {
  local p
  for p in $(pgrep -f 'tarvo\.exe' || true); do
    grep -qF "$program/tarvo.exe" "/proc/$p/maps" 2>/dev/null && echo "$p"
  done
  true
}
lines() {
  local n
  n=$(grep -cs "$1" "$log" || true)
  echo "${n:-0}"
}
# wait_for SECONDS COMMAND...: until the command succeeds.
wait_for() {
  local n=$(($1 * 2))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.5; done
  return 1
}
# portable LINK OUT [OPTIONS...]: tarvo-portable in the background on LINK.
portable() {
  local link=$1 out=$2
  shift 2
  if [ -n "$PORTABLE" ]; then # gone first: it removes its link as it ends
    kill "$PORTABLE" 2>/dev/null || true
    wait "$PORTABLE" 2>/dev/null || true
  fi
  "$LINUX_BUILD/bin/tarvo-portable" --link "$link" "$@" >"$out" 2>&1 &
  PORTABLE=$!
  wait_for 5 test -e "$link" || fail "tarvo-portable made no link: $(cat "$out")"
}
portable_done() {
  wait_for "$1" eval '! kill -0 "$PORTABLE" 2>/dev/null' || return 1
  wait "$PORTABLE" || return 1
  PORTABLE=
}

host=$WORK/host
decoy=$WORK/decoy
hand=$WORK/portable
mkdir -p "$host/outbox" "$host/inbox" "$decoy" "$hand/received" "$hand/files"
printf 'ITEM;PRICE\r\nAPPLE;0.45\r\nPEAR;0.60\r\n' >"$host/outbox/prices.txt"
printf 'ITEM;PRICE\r\nDECOY;9.99\r\n' >"$decoy/prices.txt"
printf 'ORDER;ITEM;QTY\r\n1001;APPLE;12\r\n' >"$hand/files/ORDERS.TXT"

modem=$WORK/modem
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$modem" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d "$WORK/no-modem" /f >/dev/null
# one_each_way: the service's job, one file each way.
one_each_way() {
  machine Settings "Modem Port" 1
  machine Settings Job 2
  machine Dnld1 Name PRICES.TXT
  machine Dnld1 "Open From" "$(winpath "$host/outbox/prices.txt")"
  machine File1 Name ORDERS.TXT
  machine File1 "Save As" "$(winpath "$host/inbox/orders.txt")"
}
one_each_way
# The user's own key says otherwise in everything that matters.
user Settings "Modem Port" 2
user Settings Job 2
user Dnld1 Name PRICES.TXT
user Dnld1 "Open From" "$(winpath "$decoy/prices.txt")"
user File1 Name ORDERS.TXT
user File1 "Save As" "$(winpath "$decoy/orders.txt")"
wineserver -w

# --- 1. the per-machine install ----------------------------------------------
keep_session
portable "$modem" "$WORK/portable-idle.out" --first-call-delay 100000 \
  --download-dir "$hand/received" --upload-dir "$hand/files"
stage "installing $(basename "$setup") silently for all users"
timeout 300 wine "$setup" /S /AllUsers >/dev/null 2>&1 || fail "the per-machine install ended with status $?"
[ -f "$program/tarvod.exe" ] && [ -f "$program/tarvoctl.exe" ] && [ -f "$program/tarvo.exe" ] &&
  [ -f "$program/platforms/qwindows.dll" ] || fail "the program folder is not under Program Files"
common=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs
login=$(find "$common" -maxdepth 2 -ipath '*/Startup/Tarvo.lnk' | head -1)
[ -f "$common/Tarvo.lnk" ] && [ -n "$login" ] ||
  fail "the menu and log-in shortcuts are not the common ones: $(find "$WINEPREFIX/drive_c" -name Tarvo.lnk)"
entry=$(query "$uninstall_key" /reg:64)
grep -qE 'InstallLocation +REG_SZ +C:\\Program Files\\Tarvo$' <<<"$entry" ||
  fail "no uninstall entry in HKLM's 64-bit view: $entry"
query "$uninstall_key" /reg:32 | grep -q InstallLocation && fail "the uninstall entry went to the 32-bit view"
query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvo' | grep -q . &&
  fail "the per-machine install wrote a per-user uninstall entry"
registered=$(query "$service_key")
for value in 'ImagePath +REG_(EXPAND_)?SZ +"C:\\Program Files\\Tarvo\\tarvod\.exe" --service$' \
  'Start +REG_DWORD +0x2$' 'Type +REG_DWORD +0x10$' 'ObjectName +REG_SZ +LocalSystem$'; do
  grep -qE "$value" <<<"$registered" || fail "the service's registration lacks /$value/: $registered"
done
grep -qE 'DelayedAutostart +REG_DWORD +0x1$' <<<"$registered" && fail "the service's start is delayed"
[[ $(status) == running* ]] || fail "the service does not run after the install: $(status)"
wait_for 60 grep -qs 'Waiting call' "$log" ||
  fail "the service did not arm the modem on COM1: $(tail -5 "$log" 2>/dev/null)"
[ -z "$(tray_pids)" ] || fail "the silent install started a tray"
stage "installed for all users: Program Files, HKLM (64-bit), service registered and armed"

# --- 2. a new start of the prefix, no tray -----------------------------------
# Wine's boot also starts what the log-in folders hold: the common log-in
# shortcut is set aside, so that only the service can answer.
stage "killing the prefix and starting it again with no tray"
wineserver -k
mv "$login" "$WORK/login.lnk"
rm -f "$host/inbox/orders.txt"
portable "$modem" "$WORK/portable-boot.out" --calls 1 --first-call-delay 3 --verbose \
  --download-dir "$hand/received" --upload-dir "$hand/files"
wineboot >/dev/null 2>&1
keep_session
wait_for 30 eval '[[ $(status) == running* ]]' || fail "the service did not start with the prefix: $(status)"
portable_done 180 || fail "the call after the restart: $(cat "$WORK/portable-boot.out"); $(tail -8 "$log")"
[ -z "$(tray_pids)" ] || fail "a tray was started with the prefix"
cmp -s "$host/outbox/prices.txt" "$hand/received/PRICES.TXT" || fail "the download is not the HKLM key's file"
cmp -s "$hand/files/ORDERS.TXT" "$host/inbox/orders.txt" || fail "the upload is not at the HKLM key's path"
[ ! -e "$decoy/orders.txt" ] || fail "the service followed the per-user key"
grep -q 'PRICES.TXT' "$log" || fail "the call is not in the log under %ProgramData%\\Tarvo"
mv "$WORK/login.lnk" "$login"
stage "after the restart the service served a download and an upload, HKLM's settings, log in ProgramData"

# --- 3. the tray beside the service ------------------------------------------
stage "starting the tray beside the service"
before=$(status)
wine "$program/tarvo.exe" >"$WORK/tray.out" 2>&1 &
wait_for 30 eval '[ -n "$(tray_pids)" ]' || fail "the tray did not start"
sleep 5
[ -n "$(tray_pids)" ] || fail "the tray ended by itself: $(cat "$WORK/tray.out")"
[ "$(status)" = "$before" ] || fail "the tray disturbed the service: $before, now $(status)"
rm -f "$host/inbox/orders.txt" "$hand/received/PRICES.TXT"
portable "$modem" "$WORK/portable-tray.out" --calls 1 --first-call-delay 2 \
  --download-dir "$hand/received" --upload-dir "$hand/files"
service --stop-service >/dev/null || fail "--stop-service: the service did not stop"
service --start-service >/dev/null || fail "--start-service: the service did not start"
portable_done 180 || fail "no call served while the tray runs: $(cat "$WORK/portable-tray.out")"
cmp -s "$hand/files/ORDERS.TXT" "$host/inbox/orders.txt" || fail "the upload with the tray running"
before=$(status)
opened=$(lines 'Open COM1')
stage "Wine ends the session: the tray goes, the service stays"
wineboot --end-session >/dev/null 2>&1 || true
wait_for 30 eval '[ -z "$(tray_pids)" ]' || fail "the tray outlived the session's end"
keep_session
sleep 3
[ "$(status)" = "$before" ] && [ "$(lines 'Open COM1')" = "$opened" ] ||
  fail "the session's end touched the service: $before, now $(status); $(tail -4 "$log")"
stage "tray: attached without the port, a call served beside it, session's end left the service running"

# --- 4. the attached tray driven by hand ----------------------------------------
# Found by trying on Xvfb with no window manager: Wine's windows are X windows
# without a frame, exactly their client area, so "xdotool mousemove --window
# W X Y" takes client coordinates (no title bar to add). A click sent at once
# with the move reached a box that had just come up as nothing: move, pause,
# then click. Keys go where the input focus is: "windowfocus W" first. The
# question boxes default to No, so Return answers No and "y" (the Yes
# button's letter) Yes. While the service has the port the window's third
# button reads "Hide"; the tray's Exit is then its icon's menu, in Wine's own
# "Wine System Tray" window.
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
# popup: a box or menu of the tray's, over its window.
popup() {
  local w
  for w in $(visible '^Tarvo$'); do [ "$w" = "$tray_window" ] || { echo "$w" && return 0; }; done
  return 1
}
size() { xdotool getwindowgeometry "$1" | sed -n 's/^ *Geometry: \([0-9]*\)x\([0-9]*\)$/\1 \2/p'; }
click() {
  xdotool mousemove --window "$1" "$2" "$3"
  sleep 0.3
  xdotool click "${4:-1}"
}
# answer KEY: the question that comes up gets KEY; it must go.
answer() {
  local box
  wait_for 15 eval 'box=$(popup)' || fail "no question came up: $(tail -3 "$log")"
  sleep 0.5
  xdotool windowfocus "$box"
  sleep 0.3
  xdotool key "$1"
  wait_for 10 eval '! popup >/dev/null' || fail "the question stayed up after \"$1\""
}
heard() { grep -cF "command $1: OK" "$WORK/portable-hand.out" || true; }

stage "driving the tray: the settings offer, Stop, Start, Settings, Exit"
one_each_way
portable "$modem" "$WORK/portable-hand.out" --first-call-delay 100000 --verbose \
  --download-dir "$hand/received" --upload-dir "$hand/files"
service --stop-service >/dev/null && service --start-service >/dev/null || fail "the service's verbs before the tray"
wait_for 30 eval '[ "$(heard ATS0=1)" -gt 0 ]' || fail "the service did not arm: $(tail -5 "$WORK/portable-hand.out")"
served=$(status)
own=$(query "$user_key" /s)
machine_values=$(query "$machine_key" /s /reg:64 | grep -c REG_SZ)
wine "$program/tarvo.exe" >"$WORK/tray3.out" 2>&1 &
tray_window=
wait_for 30 eval 'tray_window=$(visible "^Tarvo$" | head -1); [ -n "$tray_window" ]' || fail "no tray window"
[ "$(size "$tray_window")" = "374 221" ] || fail "the tray's window is $(size "$tray_window"), not 374x221"
# The user's key has entries: the tray offers once to copy them to the service.
answer Return
[ "$(cat "$WINEPREFIX"/drive_c/users/*/AppData/Local/Tarvo/settings-moved)" = declined ] ||
  fail "the declined offer was not remembered"
line=$(wc -l <"$log")
armed=$(heard ATS0=1)
click "$tray_window" 162 153 # Stop
answer y
wait_for 20 eval '[ "$(heard ATS0=0)" -gt 0 ]' || fail "the tray's Stop did not disarm: $(tail -3 "$WORK/portable-hand.out")"
[ "$(status)" = "$served" ] || fail "the tray's Stop touched the service: $served, now $(status)"
click "$tray_window" 162 153 # Start
wait_for 20 eval '[ "$(heard ATS0=1)" -gt "$armed" ]' || fail "the tray's Start did not arm again: $(tail -3 "$log")"
[ "$(wc -l <"$log")" -gt "$line" ] || fail "the service logged nothing of the tray's Stop and Start"
click "$tray_window" 56 153 # Settings
wait_for 20 eval 'settings=$(visible "^Tarvo Configuration$" | head -1); [ -n "$settings" ]' ||
  fail "the configuration window did not come up"
read -r width height < <(size "$settings")
click "$settings" $((width - 130)) $((height - 23)) # OK
wait_for 20 eval '[ -z "$(visible "^Tarvo Configuration$")" ]' || fail "the configuration window stayed up"
wait_for 20 eval '[ "$(query "$machine_key" /s /reg:64 | grep -c REG_SZ)" = 34 ]' ||
  fail "OK saved $(query "$machine_key" /s /reg:64 | grep -c REG_SZ) values in HKLM, not 34 (before: $machine_values)"
[ "$(query "$user_key" /s)" = "$own" ] || fail "the service's settings went into the user's key"
[ "$(status)" = "$served" ] || fail "the save touched the service: $served, now $(status)"
opened=$(lines 'Open COM1')
menu=
for _ in 1 2 3; do # a right-click now and then opened nothing
  click "$(visible '^Wine System Tray$' | head -1)" 10 10 3
  wait_for 5 eval 'menu=$(popup)' && break
done
[ -n "$menu" ] || fail "the tray icon's menu did not come up"
read -r width height < <(size "$menu")
click "$menu" 40 $((height - 16)) # Exit
answer y
wait_for 30 eval '[ -z "$(tray_pids)" ]' || fail "the tray's Exit did not end the tray"
sleep 3
[ "$(status)" = "$served" ] && [ "$(lines 'Open COM1')" = "$opened" ] ||
  fail "the tray's Exit touched the service: $served, now $(status); $(tail -4 "$log")"
# A new portable for the call: the port is let go while its link changes.
rm -f "$host/inbox/orders.txt" "$hand/received/PRICES.TXT"
ctl stop >/dev/null || fail "tarvoctl stop after the tray's Exit"
portable "$modem" "$WORK/portable-after.out" --calls 1 --first-call-delay 2 \
  --download-dir "$hand/received" --upload-dir "$hand/files"
ctl start >/dev/null || fail "tarvoctl start after the tray's Exit"
portable_done 180 || fail "no call served after the tray's Exit: $(cat "$WORK/portable-after.out"); $(tail -5 "$log")"
cmp -s "$host/outbox/prices.txt" "$hand/received/PRICES.TXT" || fail "the download after the tray's Exit"
cmp -s "$hand/files/ORDERS.TXT" "$host/inbox/orders.txt" || fail "the upload after the tray's Exit"
[ "$(status)" = "$served" ] || fail "the call after the tray's Exit was served by another process"
stage "tray by hand: Stop disarmed and Start armed the running service, OK saved 34 values in HKLM, Exit left it serving"

# --- 5. stopped in the middle of an upload ------------------------------------
stage "stopping the service in the middle of an upload"
service --stop-service >/dev/null || fail "--stop-service before the upload test"
session=$WORK/session
mkdir -p "$session/host" "$session/portable"
printf 'ORDER;ITEM;QTY\r\n0999;PLUM;3\r\n' >"$session/old.txt"
cp "$session/old.txt" "$session/host/orders.txt"
head -c 200000 /dev/urandom >"$session/portable/ORDERS.TXT"
machine Settings Job 1
machine File1 "Save As" "$(winpath "$session/host/orders.txt")"
portable "$modem" "$WORK/portable-stop.out" --calls 1 --first-call-delay 1 --verbose \
  --download-dir "$session/portable" --upload-dir "$session/portable"
service --start-service >/dev/null || fail "--start-service for the upload test"
uploading() { [ -e "$session/host/orders.BAK" ] && [ "$(stat -c %s "$session/host/orders.txt")" -gt 2000 ]; }
wait_for 60 uploading ||
  fail "the upload did not get going: $(ls -l "$session/host"); $(tail -5 "$log"); $(tail -5 "$WORK/portable-stop.out")"
stopped=$(lines 'Not connected')
service --stop-service >/dev/null || fail "--stop-service in the middle of an upload"
cmp -s "$session/old.txt" "$session/host/orders.txt" || fail "after the stop orders.txt is not the old copy"
[ ! -e "$session/host/orders.BAK" ] || fail "the stop left orders.BAK"
for heard in 'command ATH0: OK' 'call ended: host-hangup' 'command ATS0=0: OK'; do
  grep -qF "$heard" "$WORK/portable-stop.out" || fail "the modem did not get \"$heard\": $(tail -8 "$WORK/portable-stop.out")"
done
[ "$(lines 'Not connected')" -gt "$stopped" ] || fail "the stop is not in the log: $(tail -8 "$log")"
stage "stop mid-upload: the old copy back, hung up and disarmed"

# --- 6. the upgrade during a call ---------------------------------------------
# A silent install without /AllUsers upgrades the per-machine one. It comes
# between CONNECT and the portable's greeting: the call is not idle, so its
# job runs to ALL DONE before the service closes.
stage "upgrading silently between CONNECT and Portable ready, the tray running"
service --stop-service >/dev/null || fail "--stop-service before the upgrade"
one_each_way
rm -f "$host/inbox/orders.txt"
portable "$modem" "$WORK/portable-upgrade.out" --calls 1 --first-call-delay 2 --greeting-delay 30 \
  --linger 600 --download-dir "$hand/received" --upload-dir "$hand/files"
connects=$(lines CONNECT)
service --start-service >/dev/null || fail "--start-service before the upgrade"
old=$(status)
wine "$program/tarvo.exe" >"$WORK/tray2.out" 2>&1 &
wait_for 30 eval '[ -n "$(tray_pids)" ]' || fail "the tray did not start again"
wait_for 60 eval '[ "$(lines CONNECT)" -gt "$connects" ]' || fail "no call came: $(tail -5 "$log")"
tac "$log" | sed '/CONNECT/q' | grep -q 'Portable ready' && fail "the portable greeted before the upgrade began"
touch -d '2000-01-01 00:00' "$program/tarvod.exe" "$program/tarvo.exe"
timeout 400 wine "$setup" /S >/dev/null 2>&1 || fail "the upgrade during a call ended with status $?"
grep -q 'outcome=all-done' "$WORK/portable-upgrade.out" ||
  fail "the call did not run to ALL DONE: $(cat "$WORK/portable-upgrade.out"); $(tail -8 "$log")"
cmp -s "$hand/files/ORDERS.TXT" "$host/inbox/orders.txt" || fail "the call's upload did not arrive whole"
for f in tarvod.exe tarvo.exe; do
  [ "$(stat -c %Y "$program/$f")" -gt "$(date -d '2000-01-02' +%s)" ] || fail "the upgrade did not replace $f"
done
[ ! -d "$WINEPREFIX/drive_c/users/root/AppData/Local/Programs/Tarvo" ] ||
  fail "the silent upgrade installed for the user instead"
now=$(status)
[[ $now == running* ]] && [ "$now" != "$old" ] || fail "the service was not started anew: $old, then $now"
wait_for 30 eval '[ -n "$(tray_pids)" ]' || fail "the tray that ran was not started again"
rm -f "$host/inbox/orders.txt"
portable "$modem" "$WORK/portable-next.out" --calls 1 --first-call-delay 2 \
  --download-dir "$hand/received" --upload-dir "$hand/files"
service --stop-service >/dev/null && service --start-service >/dev/null || fail "the upgraded service's verbs"
portable_done 180 || fail "the upgraded service served no call: $(cat "$WORK/portable-next.out")"
cmp -s "$hand/files/ORDERS.TXT" "$host/inbox/orders.txt" || fail "the upgraded service's upload"
stage "upgrade during a call: ALL DONE first, files replaced, service and tray again, next call served"

# --- 7. uninstall --------------------------------------------------------------
stage "uninstalling silently"
echo "log line" >>"$log"
wine "$program/Uninstall.exe" /S
# The uninstaller goes on from a copy of itself.
wait_for 120 eval '[ ! -e "$program/tarvod.exe" ]' || fail "the uninstaller did not remove tarvod.exe"
wait_for 30 eval '! query "$uninstall_key" /reg:64 | grep -q .' || fail "the uninstall entry stayed"
query "$service_key" | grep -q ImagePath && fail "the uninstaller left the service registered"
[ ! -e "$program/tarvo.exe" ] && [ ! -e "$program/Qt6Core.dll" ] && [ ! -d "$program/platforms" ] ||
  fail "the uninstaller left program files: $(ls -R "$program")"
[ ! -e "$common/Tarvo.lnk" ] && [ ! -e "$login" ] || fail "the uninstaller left a shortcut"
grep -q 'log line' "$log" || fail "the uninstaller removed the log under %ProgramData%\\Tarvo"
query "$machine_key\\Settings" /reg:64 | grep -q 'Modem Port' || fail "the uninstaller removed the settings"
stage "uninstall: service and program gone, settings and log kept"
stage "service part passed"
