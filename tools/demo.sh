#!/usr/bin/env bash
# Runs the viewer against its built-in demo DVR (dvr-emulator started by the viewer itself).
# With a display: the window with live video and audio until it is closed. Without one: the
# viewer runs offscreen for a bounded time and prints what it showed and where its screenshot is.
set -euo pipefail
build=$1; shift
exec "$build/src/pelloxview" --demo "$@"
