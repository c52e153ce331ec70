#!/usr/bin/env bash
# Starts dvr-emulator on a free loopback port and the viewer against it.
# Without a display the viewer runs under Qt's offscreen platform for a bounded time.
set -euo pipefail
build=$1; shift
log=$(mktemp)
"$build/tools/dvr-emulator/dvr-emulator" --listen 127.0.0.1:0 --user demo --password demo 2>"$log" >"$log.out" &
emu=$!
trap 'kill $emu 2>/dev/null || true; rm -f "$log" "$log.out"' EXIT
for _ in $(seq 100); do
  grep -q '^listening on ' "$log.out" 2>/dev/null && break
  kill -0 $emu 2>/dev/null || break
  sleep 0.1
done
addr=$(sed -n 's/^listening on //p' "$log.out" | head -n1)
if [ -z "$addr" ]; then
  echo "demo: the emulator did not start; it said:"; cat "$log" "$log.out"
  addr=127.0.0.1:0
fi
echo "demo: DVR emulator listening on $addr (user demo, password demo)"
args=(--connect "$addr" --user demo --password demo)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; running the viewer under Qt's offscreen platform for 15 seconds"
  QT_QPA_PLATFORM=offscreen PELLOXVIEW_AUDIO=wav:"${TMPDIR:-/tmp}/pelloxview-demo.wav" \
    timeout --preserve-status 15 "$build/src/pelloxview" "${args[@]}" "$@" || true
  echo "demo: done"
else
  "$build/src/pelloxview" "${args[@]}" "$@"
fi
