#!/usr/bin/env bash
# Runs the network viewer benchmark offscreen and under Xvfb.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
echo "== offscreen"
QT_QPA_PLATFORM=offscreen "$here/netviewer_bench" "$@"
if command -v Xvfb >/dev/null; then
  display=":$((150 + RANDOM % 50))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  sleep 1
  echo "== Xvfb"
  DISPLAY="$display" QT_QPA_PLATFORM=xcb "$here/netviewer_bench" "$@"
fi
