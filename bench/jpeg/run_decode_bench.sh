#!/usr/bin/env bash
# Decoder throughput of our plain routines beside libjpeg-turbo's plain C path
# (tjbench with JSIMD_FORCENONE=1, box upsampling, exact transform), on the
# same noisy 1920x1080 files, one core.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ppm="$work/bench.ppm"
"$here/jpeg_encode_bench" --save-ppm "$ppm" --noise 24 --seconds 0 >/dev/null
cjpeg -quality 75 -outfile "$work/baseline420.jpg" "$ppm"
cjpeg -quality 75 -progressive -outfile "$work/progressive420.jpg" "$ppm"
cjpeg -quality 90 -sample 1x1 -outfile "$work/baseline444.jpg" "$ppm"

for name in baseline420 progressive420 baseline444; do
  file="$work/$name.jpg"
  ours_line="$(taskset -c 0 "$here/jpeg_decode_bench" --jpeg "$file" --cpu 0 --seconds 3)"
  ours="$(sed -n 's/.*, \([0-9.]*\) Mpixels\/s$/\1/p' <<<"$ours_line")"
  theirs_out="$(cd "$work" && JSIMD_FORCENONE=1 taskset -c 0 tjbench "$file" -fastupsample -benchtime 3 -warmup 1 \
    -quiet 2>&1)"
  theirs="$(awk '/YCbCr/ {print $NF}' <<<"$theirs_out" | tail -1)"
  awk -v n="$name" -v a="$ours" -v b="$theirs" \
    'BEGIN { printf "%-15s ours %7.1f Mpixels/s, libjpeg-turbo plain C %7.1f Mpixels/s, ratio %.2f\n", n, a, b, a / b }'
done
echo "target: ratio >= 0.5 on baseline420"

# The SIMD kernels: the same files on this machine's own processor type and
# forced to type 0, beside libjpeg-turbo's default SIMD and SSE2 paths.
for name in baseline420 progressive420 baseline444; do
  file="$work/$name.jpg"
  rate() { sed -n 's/.*, \([0-9.]*\) Mpixels\/s$/\1/p'; }
  own="$(taskset -c 0 "$here/jpeg_decode_bench" --jpeg "$file" --seconds 3 | rate)"
  plain="$(taskset -c 0 "$here/jpeg_decode_bench" --jpeg "$file" --cpu 0 --seconds 3 | rate)"
  tj() {
    (cd "$work" && env "$@" taskset -c 0 tjbench "$file" -fastupsample -benchtime 3 -warmup 1 -quiet 2>&1) |
      awk '/YCbCr/ {print $NF}' | tail -1
  }
  simd="$(tj JSIMD_NONE_SET=1)"
  sse2="$(tj JSIMD_FORCESSE2=1)"
  awk -v n="$name" -v a="$own" -v p="$plain" -v d="$simd" -v s="$sse2" \
    'BEGIN { printf "%-15s own type %7.1f, type 0 %7.1f, libjpeg-turbo default %7.1f, SSE2 %7.1f Mpixels/s, own/SSE2 %.2f\n", n, a, p, d, s, a / s }'
done
echo "target: own/SSE2 >= 0.5 on baseline420"
