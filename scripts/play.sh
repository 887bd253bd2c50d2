#!/usr/bin/env bash
# Builds the player into build/ and plays the production: the bundled one in
# demo/ when it exists, else the current folder. Runs under a virtual display
# when there is no screen.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PRODUCTION="$PWD"
if [ -d "$ROOT/demo" ]; then PRODUCTION="$ROOT/demo"; fi
PLAYER="${PLAYER:-demoplayer}"

"$ROOT/scripts/deps.sh"
cmake -G Ninja -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=Release -DDEMO_BUILD_TESTS=OFF -DDEMO_BUILD_BENCH=OFF >/dev/null
cmake --build "$ROOT/build" --target "$PLAYER"

cd "$PRODUCTION"
echo "Playing the production in $PRODUCTION"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: playing under a virtual X display (Xvfb); nothing will be visible."
  exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$ROOT/build/$PLAYER"
fi
exec "$ROOT/build/$PLAYER"
