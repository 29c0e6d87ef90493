#!/usr/bin/env bash
# Encoder throughput of our plain routines beside libjpeg-turbo's plain C path
# (tjbench with JSIMD_FORCENONE=1), on the same 1920x1080 picture, one core.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ppm="$work/bench.ppm"

ours_line="$(taskset -c 0 "$here/jpeg_encode_bench" --save-ppm "$ppm" --cpu 0 --seconds 3)"
echo "$ours_line"
ours="$(sed -n 's/.*, \([0-9.]*\) Mpixels\/s$/\1/p' <<<"$ours_line")"

cd "$work"
theirs_out="$(JSIMD_FORCENONE=1 taskset -c 0 tjbench "$ppm" 100 -rgbx -bottomup -subsamp 420 -accuratedct \
  -quiet -benchtime 3 -warmup 1 -nowrite 2>&1)"
theirs="$(awk '/4:2:0/ {print $7}' <<<"$theirs_out" | tail -1)"
echo "libjpeg-turbo plain C (tjbench): ${theirs} Mpixels/s"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio ours/theirs: %.2f (target >= 0.5)\n", a / b }'
