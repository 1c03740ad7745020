#!/usr/bin/env bash
# Times wvdialconf identifying the simulated card, beside kavanti-ctl card-info on the same card.
# wvdialconf scans /dev/ttyUSB*, so the simulator's slave is linked as /dev/ttyUSB9 for the run
# (the link is removed afterwards). Needs root to write in /dev.
#   bench/card_measure/wvdialconf.sh [STAGE_DIR] [RUNS]
set -euo pipefail
stage=${1:-build/stage}
runs=${2:-5}
link=/dev/ttyUSB9
if [ -e "$link" ] || [ -L "$link" ]; then
  echo "wvdialconf.sh: $link exists already; not touching it" >&2
  exit 1
fi
command -v wvdialconf >/dev/null || { echo "wvdialconf.sh: wvdialconf missing (package wvdial)" >&2; exit 1; }

tmp=$(mktemp -d)
"$stage/bin/kavanti-cardsim" --link "$link" >"$tmp/slave" &
sim=$!
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  # The simulator removes its own link; make sure of it.
  [ -L "$link" ] && rm -f "$link"
  rm -rf "$tmp"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -L "$link" ] && break; sleep 0.1; done

now() { date +%s%N; }
ms() { printf '%d.%03d' $(($1 / 1000000)) $(($1 / 1000 % 1000)); }

echo "simulated card on $(cat "$tmp/slave"), linked as $link"
total=0
for i in $(seq "$runs"); do
  t0=$(now)
  wvdialconf "$tmp/wvdial.conf" >"$tmp/wvdialconf.out" 2>&1
  t1=$(now)
  total=$((total + t1 - t0))
done
grep -E "ttyUSB9|Modem|Found" "$tmp/wvdialconf.out" | head -20
echo "wvdialconf: $(ms $((total / runs))) ms per run ($runs runs)"

total=0
for i in $(seq "$runs"); do
  t0=$(now)
  "$stage/bin/kavanti-ctl" card-info --port "$link" >"$tmp/ctl.out"
  t1=$(now)
  total=$((total + t1 - t0))
done
cat "$tmp/ctl.out"
echo "kavanti-ctl card-info: $(ms $((total / runs))) ms per run ($runs runs)"
