#!/usr/bin/env bash
# Makes docs/images/contact-sheet.png: a frame from the middle of every entry
# of demo/'s running order, captured with democapture at 400 x 225 and tiled
# four to a row by demogen. Runs headless under xvfb-run.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# Middles of the entries, in file order: TimeStart + Duration / 2.
mapfile -t TIMES < <(tr -d '\n' < "$ROOT/demo/data/timeline.xml" | grep -o '<TimeLineObject[^>]*>.*</TimeLineObject>' |
    sed 's#</TimeLineObject>#\n#g' | sed -n 's#.*<TimeStart value="\([0-9.]*\)"/>.*<Duration value="\([0-9.]*\)"/>.*#\1 \2#p' |
    awk '{ printf "%g\n", $1 + $2 / 2 }')
ARGS=()
for t in "${TIMES[@]}"; do ARGS+=(--at "$t"); done
(cd "$ROOT/demo" && SDL_AUDIODRIVER=dummy MESA_SHADER_CACHE_DISABLE=true \
    xvfb-run -a -s "-screen 0 1920x1080x24" "$BUILD/tools/democapture" "${ARGS[@]}" --size 400x225 --out "$WORK" >/dev/null)
mapfile -t SHOTS < <(ls "$WORK"/capture-*.png | sort)
mkdir -p "$ROOT/docs/images"
"$BUILD/tools/demogen" sheet "$ROOT/docs/images/contact-sheet.png" 4 "${SHOTS[@]}"
echo "${#SHOTS[@]} shots in docs/images/contact-sheet.png"
