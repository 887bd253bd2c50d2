#!/usr/bin/env bash
# Makes the bundled production's music, models and textures again with
# build/tools/demogen, and encodes the music with lame. Run from the
# repository root after a build; the results are committed under demo/.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
GEN="${DEMOGEN:-$ROOT/build/tools/demogen}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
"$GEN" models "$ROOT/demo/data/models"
"$GEN" textures "$ROOT/demo/data/textures"
"$GEN" music "$WORK/music.wav"
lame --quiet -b 96 -m m "$WORK/music.wav" "$ROOT/demo/music.mp3"
