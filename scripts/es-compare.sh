#!/usr/bin/env bash
# The OpenGL ES back end against the desktop one: renders a still in each of
# the bundled production's four scenes with both democaptures and fails
# unless every ES picture is within PSNR 30 dB of the desktop picture. Brings
# the ES build up to date first. Needs a display.
#   scripts/es-compare.sh DESKTOP_DEMOCAPTURE ES_BUILD_DIR [KEEP_DIR]
# KEEP_DIR, when given, receives both sets of pictures.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -lt 2 ]; then
  echo "usage: $0 DESKTOP_DEMOCAPTURE ES_BUILD_DIR [KEEP_DIR]" >&2
  exit 2
fi
DESKTOP="$(realpath "$1")"
ES_BUILD="$(realpath "$2")"
KEEP="${3:-}"
# The valley, the hall, the tunnel and space (demo/data/timeline.xml).
TIMES=(12 20 52 60)
MIN_PSNR=30

OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

cmake --build "$ES_BUILD" --target democapture -j 2 >"$OUT/build.log" 2>&1 || {
  cat "$OUT/build.log" >&2
  echo "es-compare: the ES build failed" >&2
  exit 1
}
args=()
for t in "${TIMES[@]}"; do args+=(--at "$t"); done
(cd "$ROOT/demo" && "$DESKTOP" "${args[@]}" --size 320x180 --out "$OUT/desktop" >"$OUT/desktop.log" 2>&1) || {
  cat "$OUT/desktop.log" >&2
  echo "es-compare: the desktop capture failed" >&2
  exit 1
}
# Mesa would give OpenGL ES 3.2, which has float targets built in: 3.0 is
# what WebGL 2 offers.
(cd "$ROOT/demo" && MESA_GLES_VERSION_OVERRIDE=3.0 "$ES_BUILD/tools/democapture" "${args[@]}" --size 320x180 --out "$OUT/es" >"$OUT/es.log" 2>&1) || {
  cat "$OUT/es.log" >&2
  echo "es-compare: the ES capture failed" >&2
  exit 1
}
if [ -n "$KEEP" ]; then
  mkdir -p "$KEEP"
  cp -r "$OUT/desktop" "$OUT/es" "$KEEP/"
fi
failed=0
for t in "${TIMES[@]}"; do
  name="$(printf 'capture-%05d.000.png' "$t")"
  psnr="$(python3 "$ROOT/scripts/psnr.py" "$OUT/desktop/$name" "$OUT/es/$name")"
  if [ "$psnr" = inf ] || python3 -c "import sys; sys.exit(float(sys.argv[1]) < $MIN_PSNR)" "$psnr"; then
    echo "at $t s: PSNR $psnr dB"
  else
    echo "at $t s: PSNR $psnr dB, under $MIN_PSNR dB" >&2
    failed=1
  fi
done
exit "$failed"
