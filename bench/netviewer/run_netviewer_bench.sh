#!/usr/bin/env bash
# Runs the network viewer benchmark offscreen and under Xvfb. The build
# copies it beside the benchmark and names the source tree's Xvfb helper.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
echo "== offscreen"
QT_QPA_PLATFORM=offscreen "$here/netviewer_bench" "$@"
if command -v Xvfb >/dev/null; then
  . "@CMAKE_SOURCE_DIR@/scripts/lib/xvfb.sh"
  start_xvfb 1280x1024x24 || exit 1
  trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
  echo "== Xvfb"
  DISPLAY="$XVFB_DISPLAY" QT_QPA_PLATFORM=xcb "$here/netviewer_bench" "$@"
fi
