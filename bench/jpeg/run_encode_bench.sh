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

# The SIMD kernels: 3-byte RGB input at q100 4:2:0, exact transform, on this
# machine's own processor type and forced to the plain type 0, beside
# libjpeg-turbo's default SIMD path and its SSE2 path (JSIMD_FORCESSE2=1).
rgb_rate() { sed -n 's/.*, \([0-9.]*\) Mpixels\/s$/\1/p'; }
own_line="$(taskset -c 0 "$here/jpeg_encode_bench" --ppm "$ppm" --rgb 1 --seconds 3)"
plain_line="$(taskset -c 0 "$here/jpeg_encode_bench" --ppm "$ppm" --rgb 1 --cpu 0 --seconds 3)"
echo "$own_line"
echo "$plain_line"
tj_rgb() {
  env "$@" taskset -c 0 tjbench "$ppm" 100 -rgb -subsamp 420 -accuratedct -quiet -benchtime 3 -warmup 1 -nowrite 2>&1 |
    awk '/4:2:0/ {print $7}' | tail -1
}
tj_default="$(tj_rgb JSIMD_NONE_SET=1)"
tj_sse2="$(tj_rgb JSIMD_FORCESSE2=1)"
echo "libjpeg-turbo RGB q100 4:2:0: default SIMD ${tj_default} Mpixels/s, SSE2 ${tj_sse2} Mpixels/s"
own="$(rgb_rate <<<"$own_line")"
awk -v a="$own" -v b="$tj_sse2" 'BEGIN { printf "ratio own type / libjpeg-turbo SSE2: %.2f (target >= 0.6)\n", a / b }'
# The snapshot road (RGBX bottom-up), whose input conversion is the generic
# routine on every processor type: no target.
taskset -c 0 "$here/jpeg_encode_bench" --ppm "$ppm" --seconds 3
