#!/usr/bin/env bash
# Builds the player into build/ and plays the production: the bundled one in
# demo/ when it exists, else the current folder. With no display to play on,
# it exports the production to a video instead (640 x 360 at 15 fps, which a
# 2-core machine without a GPU renders at 4 to 6 frames a second) and prints
# its path.
#   VIDEO=path.mp4   where the headless export goes (default: build/production.mp4)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PRODUCTION="$PWD"
if [ -d "$ROOT/demo" ]; then PRODUCTION="$ROOT/demo"; fi
PLAYER="${PLAYER:-demoplayer}"

"$ROOT/scripts/deps.sh"
# build/ is configured as the test command's plain stage configures it, so
# that neither undoes the other; only the players and tools are built here.
mkdir -p "$ROOT/build"
LOG="$ROOT/build/play-build.log"
echo "== building $PLAYER and the tools into build/ (log: $LOG)"
if ! { cmake -G Ninja -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_BUILD_TESTS=ON \
         -DDEMO_BUILD_BENCH=ON -DDEMO_BUILD_FUZZ=OFF -DSANITIZE= &&
       cmake --build "$ROOT/build" --target "$PLAYER" demopack democapture demolint demogen; } >"$LOG" 2>&1; then
  tail -n 100 "$LOG"
  echo "play: the build failed (log: $LOG)" >&2
  exit 1
fi

cd "$PRODUCTION"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  VIDEO="${VIDEO:-$ROOT/build/production.mp4}"
  echo "== no display found: exporting the production in $PRODUCTION to a video instead"
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$ROOT/build/tools/democapture" \
    --video "$VIDEO" --size 640x360 --fps 15 --preset veryfast >/dev/null
  echo "The video: $VIDEO"
  exit 0
fi
echo "== playing the production in $PRODUCTION"
exec "$ROOT/build/$PLAYER"
