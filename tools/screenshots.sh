#!/usr/bin/env bash
# Takes the screenshots of the live window (JPEG and MPEG-4 channels from the emulator, window
# view and full screen), the connection dialog, the address book and the skin controls under
# Xvfb (a real X server, Qt's xcb platform) and saves them to docs/screenshots/.
#   tools/screenshots.sh [BUILD_DIR]    default build/debug (configured like `./pv build`)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
build=${1:-build/debug}
out=$ROOT/docs/screenshots

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "${PV_JOBS:-2}" --target test_ui test_e2e pelloxview dvr-emulator

mkdir -p "$out"
# Leak checking is off in case the build uses AddressSanitizer: the X libraries keep caches for
# the life of the process.
ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=xcb PV_SCREENSHOT_DIR="$out" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/test_ui" --gtest_filter='Screenshots.*'
ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=xcb PV_SCREENSHOT_DIR="$out" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/test_e2e" --gtest_filter='Screenshots.*'
# The whole window at zoom 2 while it records the demo's first channel.
capture=$(mktemp -d)
ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/src/pelloxview" --demo --zoom 2 --quit-after 5 --data-dir "$capture" \
  --audio-out "$capture/audio.wav" --record "$capture/clip.mkv" --overwrite --screenshot "$out/zoom-2-recording.png"
# The monitor window on the demo at 1280x720, headless: 2 x 2, 1+5, and one tile on the whole window.
for shot in "monitor-2x2 --grid 4" "monitor-1plus5 --grid 1+5" \
  "monitor-enlarged --grid 1 --channels 2"; do
  set -- $shot
  name=$1
  shift
  ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen "$build/src/pelloxview" --demo --monitor "$@" \
    --quit-after 6 --data-dir "$capture" --audio-out "$capture/audio.wav" --overwrite \
    --screenshot "$out/$name.png"
done
rm -rf "$capture"
echo "screenshots: saved to $out"
ls -1 "$out"
