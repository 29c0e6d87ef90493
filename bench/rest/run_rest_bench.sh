#!/usr/bin/env bash
# Runs the rest benchmark with its programs offscreen, or with --xvfb first
# under an X server of its own (Xvfb), as on a desktop. The build copies it
# beside the benchmark and names the source tree's Xvfb helper.
#   run_rest_bench.sh [--xvfb] [rest_bench options and states]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ "${1:-}" = "--xvfb" ]; then
  shift
  . "@CMAKE_SOURCE_DIR@/scripts/lib/xvfb.sh"
  start_xvfb 1280x1024x24 || exit 1
  trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
  DISPLAY="$XVFB_DISPLAY" QT_QPA_PLATFORM=xcb "$here/rest_bench" "$@"
else
  QT_QPA_PLATFORM=offscreen "$here/rest_bench" "$@"
fi
