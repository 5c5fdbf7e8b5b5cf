#!/usr/bin/env bash
# Installs what is missing, builds, and starts a demonstration: Tarvo on a
# simulated modem with a simulated portable behind it that calls every 15 s.
# Your own configuration is not touched: the demonstration keeps its settings,
# upload journal, files and log under build/demo, so it also runs beside a
# Tarvo of your own.
set -euo pipefail
TARVO_ROOT=$(cd "$(dirname "$0")" && pwd)
source "$TARVO_ROOT/.ci/common.sh"

tarvo_install_missing
tarvo_build "$TARVO_ROOT/build" tarvo tarvo-portable

bin="$TARVO_ROOT/build/bin"
demo="$TARVO_ROOT/build/demo"
mkdir -p "$demo/config/Tarvo" "$demo/data" "$demo/host/outbox" "$demo/host/inbox" \
         "$demo/portable/received" "$demo/portable/files"

# Files the host sends to the portable (download) ...
printf 'ITEM;PRICE\r\nAPPLE;0.45\r\nPEAR;0.60\r\nPLUM;0.25\r\n' > "$demo/host/outbox/prices.txt"
head -c 6000 /dev/urandom > "$demo/host/outbox/catalog.bin"
# ... and the files the portable holds for the host (upload).
printf 'ORDER;ITEM;QTY\r\n1001;APPLE;12\r\n1002;PLUM;40\r\n' > "$demo/portable/files/ORDERS.TXT"
printf 'STOCK COUNT %s\r\n' "$(date +%F)" > "$demo/portable/files/STOCK.TXT"

modem="$demo/modem"
cat > "$demo/config/Tarvo/Tarvo.conf" <<INI
[Settings]
Modem%20Port=1
Job=2

[Dnld1]
Name=PRICES.TXT
Open%20From=$demo/host/outbox/prices.txt

[Dnld2]
Name=CATALOG.BIN
Open%20From=$demo/host/outbox/catalog.bin

[File1]
Name=ORDERS.TXT
Save%20As=$demo/host/inbox/orders.txt

[File2]
Name=STOCK.TXT
Save%20As=$demo/host/inbox/stock.txt

[Ports]
COM1=$modem
INI

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session found (DISPLAY is not set): start ./run.sh from a desktop terminal." >&2
  exit 1
fi

"$bin/tarvo-portable" --link "$modem" --interval 15 --first-call-delay 3 \
  --download-dir "$demo/portable/received" --upload-dir "$demo/portable/files" \
  > "$demo/portable.out" 2>&1 &
portable=$!
trap 'kill $portable 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$modem" ] && break; sleep 0.1; done

cat <<TXT
Demonstration running:
  simulated modem : $modem (COM1 in the demonstration's settings)
  host files      : $demo/host   (outbox is sent, inbox receives)
  portable files  : $demo/portable (received = what arrived, files = what it sends)
  simulator output: $demo/portable.out
Press OK in the configuration window; a call comes in every 15 seconds.
TXT

# A control path where no server answers: the demonstration runs its own
# server even on a PC where the Tarvo service is installed.
XDG_CONFIG_HOME="$demo/config" XDG_DATA_HOME="$demo/data" TARVO_CONTROL="$demo/control" "$bin/tarvo"
