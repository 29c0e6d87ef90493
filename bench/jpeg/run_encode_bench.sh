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
# Two pictures: our own (gradients, texture, mild noise) and a noisy test
# pattern, where the entropy coder carries most of the work.
rgb_rate() { sed -n 's/.*, \([0-9.]*\) Mpixels\/s$/\1/p'; }
tj_rgb() {
  local picture="$1"
  shift
  env "$@" taskset -c 0 tjbench "$picture" 100 -rgb -subsamp 420 -accuratedct -quiet -benchtime 3 -warmup 1 -nowrite 2>&1 |
    awk '/4:2:0/ {print $7}' | tail -1
}
simd_against_sse2() {
  local picture="$1" label="$2"
  echo "== $label"
  local own_line plain_line
  own_line="$(taskset -c 0 "$here/jpeg_encode_bench" --ppm "$picture" --rgb 1 --seconds 3)"
  plain_line="$(taskset -c 0 "$here/jpeg_encode_bench" --ppm "$picture" --rgb 1 --cpu 0 --seconds 3)"
  echo "$own_line"
  echo "$plain_line"
  local tj_default tj_sse2
  tj_default="$(tj_rgb "$picture" JSIMD_NONE_SET=1)"
  tj_sse2="$(tj_rgb "$picture" JSIMD_FORCESSE2=1)"
  echo "libjpeg-turbo RGB q100 4:2:0: default SIMD ${tj_default} Mpixels/s, SSE2 ${tj_sse2} Mpixels/s"
  awk -v a="$(rgb_rate <<<"$own_line")" -v b="$tj_sse2" \
    'BEGIN { printf "ratio own type / libjpeg-turbo SSE2: %.2f (target >= 0.6)\n", a / b }'
}
simd_against_sse2 "$ppm" "own picture"
if command -v ffmpeg >/dev/null; then
  noisy="$work/noisy.ppm"
  ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080,noise=alls=10:allf=t" -frames:v 1 \
    -pix_fmt rgb24 "$noisy"
  simd_against_sse2 "$noisy" "noisy test pattern (ffmpeg testsrc2, noise 10)"
else
  echo "== noisy test pattern: skipped (no ffmpeg)"
fi
# The snapshot road (RGBX bottom-up), whose input conversion is the generic
# routine on every processor type: no target.
taskset -c 0 "$here/jpeg_encode_bench" --ppm "$ppm" --seconds 3
