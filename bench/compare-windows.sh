#!/usr/bin/env bash
# The Windows build's transfers beside the Linux build's, on this machine at
# the same time: tarvo-bench's transfer cases, host side only, run in turn
# as the Linux program and as the Windows program under Wine, each against a
# fresh Linux tarvo-portable whose pseudo-terminal Wine maps to COM1. Each
# run prints its efficiency and where a block's time went; the means follow.
#
#   bench/compare-windows.sh [rounds] [bytes] [cases]
#
# Defaults: 3 rounds of 32768 bytes, "download upload", at 9600 bit/s;
# TARVO_SIDES="windows" (or "linux") runs one side only.
# Builds what is missing as packaging/windows/test-windows.sh does.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
TARVO_ROOT=$(cd "$HERE/.." && pwd)
ROUNDS=${1:-3}
BYTES=${2:-32768}
CASES=${3:-download upload}
BPS=9600
SIDES=${TARVO_SIDES:-linux windows}
LINUX_BUILD=$TARVO_ROOT/build
source "$TARVO_ROOT/.ci/common.sh"

tarvo_install_missing "${TARVO_WINDOWS_PACKAGES[@]}"
tarvo_build "$LINUX_BUILD" tarvo-bench tarvo-portable >/dev/null
QT=$("$TARVO_ROOT/packaging/windows/build.sh" "$TARVO_ROOT/build-win" 2>/dev/null | tail -1)
QT=${QT#QT=}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-compare.XXXXXX")
PORTABLE=
cleanup() {
  [ -z "$PORTABLE" ] || kill "$PORTABLE" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 WINEPREFIX=$WORK/prefix
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
wineboot -i >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$WORK/modem" /f >/dev/null 2>&1
wineserver -w
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
export WINEPATH="$(winpath "$QT/bin");$(winpath "$runtime");$(winpath "$pthread")"
wineserver -p >/dev/null 2>&1 # one server for every run: its start is not the program's

# run SIDE CASE: one transfer against a fresh simulator; appends its row.
run() {
  local side=$1 case=$2 files=$WORK/portable
  rm -rf "$files" "$WORK/modem" "$WORK/row.json"
  mkdir -p "$files"
  "$LINUX_BUILD/bin/tarvo-portable" --link "$WORK/modem" --bps "$BPS" --first-call-delay 0.3 \
    --interval 1 --calls 1 --linger 30 --download-dir "$files" --upload-dir "$files" \
    >"$WORK/portable.out" 2>&1 &
  PORTABLE=$!
  for _ in $(seq 50); do [ -e "$WORK/modem" ] && break; sleep 0.1; done
  if [ "$side" = linux ]; then
    "$LINUX_BUILD/bin/tarvo-bench" --case "$case" --size "$BYTES" --bps "$BPS" \
      --device "$WORK/modem" --portable-dir "$files" --json "$WORK/row.json" >/dev/null
  else
    wine "$TARVO_ROOT/build-win/bin/tarvo-bench.exe" --case "$case" --size "$BYTES" --bps "$BPS" \
      --device COM1 --portable-dir "$(winpath "$files")" --json "$(winpath "$WORK/row.json")" \
      >/dev/null 2>&1
  fi || true
  kill "$PORTABLE" 2>/dev/null || true
  wait "$PORTABLE" 2>/dev/null || true
  PORTABLE=
  python3 - "$side" "$WORK/row.json" >>"$WORK/rows.jsonl" <<'PY'
import json, sys
try:
    row = json.load(open(sys.argv[2]))
except (OSError, ValueError):
    row = {"error": "no result"}
row["side"] = sys.argv[1]
print(json.dumps(row))
PY
  tail -1 "$WORK/rows.jsonl" | python3 -c '
import json, sys
r = json.load(sys.stdin)
if "error" in r:
    print("%-7s %-8s ERROR %s" % (r["side"], r.get("case", "?"), r["error"]))
else:
    print("%-7s %-8s eff %.3f  %6.1f ms/block  %5.2f polls/block  sleep %.3f  events %.3f  read %.3f ms/poll  write %.3f  other %.3f ms/block" % (
        r["side"], r["case"], r["efficiency"], r["ms_per_block"], r["polls_per_block"],
        r["sleep_ms_per_poll"], r["events_ms_per_poll"], r["read_ms_per_poll"],
        r["write_ms_per_block"], r["other_ms_per_block"]))'
}

echo "$BYTES bytes at $BPS bit/s, $ROUNDS rounds, in turn: $SIDES (windows: under Wine)"
for round in $(seq "$ROUNDS"); do
  for case in $CASES; do
    for side in $SIDES; do
      run "$side" "$case"
    done
  done
done

python3 - "$WORK/rows.jsonl" <<'PY'
import json, sys
from collections import defaultdict
rows = [json.loads(l) for l in open(sys.argv[1])]
groups = defaultdict(list)
for r in rows:
    if "error" not in r:
        groups[(r["case"], r["side"])].append(r)
print("\nmeans:")
for case in sorted({c for c, _ in groups}):
    eff = {}
    for side in ("linux", "windows"):
        g = groups.get((case, side), [])
        if not g:
            continue
        mean = lambda k: sum(r[k] for r in g) / len(g)
        eff[side] = mean("efficiency")
        print("%-8s %-7s n=%d eff %.3f (%.3f..%.3f)  %6.1f ms/block  %5.2f polls/block  "
              "sleep %.3f  events %.3f  read %.3f ms/poll  write %.3f  other %.3f ms/block" % (
                  case, side, len(g), eff[side], min(r["efficiency"] for r in g),
                  max(r["efficiency"] for r in g), mean("ms_per_block"), mean("polls_per_block"),
                  mean("sleep_ms_per_poll"), mean("events_ms_per_poll"), mean("read_ms_per_poll"),
                  mean("write_ms_per_block"), mean("other_ms_per_block")))
    if len(eff) == 2:
        print("%-8s windows/linux %.3f" % (case, eff["windows"] / eff["linux"]))
PY
