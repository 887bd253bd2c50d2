#!/usr/bin/env bash
# Soak test of the player: plays a copy of the test production (a still shot,
# loose files and a data.pack) under a virtual display, makes random edits of
# every kind for a while (valid, malformed, truncated, torn writes with a
# pause half-way, deletions, restores, pack rewrites), then restores the good
# content and checks that the picture comes back (the window against a
# democapture still of the same shot), that the player is still alive, and
# that it quits cleanly on Escape with no sanitizer report. Samples the
# player's resident memory every few seconds and prints its slope.
#
#   scripts/soak.sh [--seconds N] [--build DIR] [--seed N] [--out DIR]
#   scripts/soak.sh --tools [...]   the tools' soak instead (scripts/soak-tools.sh)
#
#   --seconds  length of the edit phase (default 60)
#   --build    build folder of the player under test (default build/; use
#              build-asan or build-tsan for a sanitizer soak); the still and
#              the window capture come from build/ (plain) when it has them
#   --seed     seed of the edit sequence (default: from the clock; printed)
#   --out      folder for the log, the player's output, rss.csv and the
#              pictures (default: a new folder under /tmp)
#
# Every loop is bounded in count and time and stops by itself. Exit status 0
# when every check held. Needs python3 and lame (for the long music), xvfb-run
# when there is no DISPLAY.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_WANTED=60
BUILD="$ROOT/build"
SEED=""
OUT=""
if [ "${1:-}" = "--tools" ]; then shift; exec bash "$ROOT/scripts/soak-tools.sh" "$@"; fi
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_WANTED="$2"; shift 2 ;;
    --build) BUILD="$(cd "$2" && pwd)"; shift 2 ;;
    --seed) SEED="$2"; shift 2 ;;
    --out) OUT="$2"; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--build DIR] [--seed N] [--out DIR]" >&2; exit 2 ;;
  esac
done
[ -n "$SEED" ] || SEED=$(( $(date +%s) % 1000000 ))
[ -n "$OUT" ] || OUT="$(mktemp -d /tmp/demo-soak-XXXXXX)"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"

# Under a virtual display when there is no screen: the whole script once more.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" \
    bash "$0" --seconds "$SECONDS_WANTED" --build "$BUILD" --seed "$SEED" --out "$OUT"
fi

PLAYER="$BUILD/demoplayer"
PLAIN="$ROOT/build"
CAPTURE="$PLAIN/tools/democapture"
SHOT="$PLAIN/tests/windowshot"
DEMOPACK="$PLAIN/tools/demopack"
for tool in "$PLAYER" "$CAPTURE" "$SHOT" "$DEMOPACK"; do
  [ -x "$tool" ] || { echo "soak: $tool is missing; build it first (cmake --build build)" >&2; exit 2; }
done
command -v lame >/dev/null || { echo "soak: lame is missing (apt-get install lame)" >&2; exit 2; }

export SDL_AUDIODRIVER=dummy
export MESA_SHADER_CACHE_DISABLE=true
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$ROOT/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
# intercept_tls_get_addr=0: see scripts/test.sh.
export ASAN_OPTIONS="detect_leaks=1:intercept_tls_get_addr=0"

LOG="$OUT/soak.log"
: > "$LOG"
say() { echo "$(date +%T) $*" | tee -a "$LOG"; }
fail() { say "FAIL: $*"; FAILED=1; }
FAILED=0
say "soak of $PLAYER for $SECONDS_WANTED s, seed $SEED, output in $OUT"

# --- The production: the test production held on one still shot. ----------
PROD="$OUT/production"
GOOD="$OUT/good"
rm -rf "$PROD" "$GOOD"
mkdir -p "$GOOD/data/shaders" "$GOOD/data/textures"
cp -r "$ROOT/tests/production/data/." "$GOOD/data/"
cp -r "$ROOT/demo/data/shaders/." "$GOOD/data/shaders/"
cat > "$GOOD/data/timeline.xml" <<'XML'
<TimeLine>
  <TimeLineObject scene="room" camera="front">
    <TimeStart value="0"/><Duration value="100000"/><FrameStart value="0"/><FrameEnd value="0"/>
  </TimeLineObject>
</TimeLine>
XML
# A texture of the soak's own (2 x 2 pixels), so that textures are edited too.
python3 - "$GOOD/data/textures/soak.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
raw = b"".join(b"\x00" + bytes([200, 100, 50] * 2) for _ in range(2))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0)) + \
      chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
# Music longer than the soak: the player ends with its music.
MUSIC_SECONDS=$(( SECONDS_WANTED + 600 ))
python3 - "$OUT/music.wav" "$MUSIC_SECONDS" <<'PY'
import math, struct, sys, wave
rate, seconds = 8000, int(sys.argv[2])
one = b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440.0 * i / rate))) for i in range(rate))
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
    for _ in range(seconds): w.writeframes(one)
PY
lame --quiet -t "$OUT/music.wav" "$GOOD/music.mp3"
rm "$OUT/music.wav"
# The pack holds every content file; the loose files win while they exist.
(cd "$GOOD" && "$DEMOPACK" create data.pack data >/dev/null)
cp -r "$GOOD" "$PROD"

# The still the window must match once the good content is back.
(cd "$GOOD" && "$CAPTURE" --at 1 --size 1280x720 --out "$OUT/still" >"$OUT/capture.txt" 2>&1) ||
  { echo "soak: democapture failed (see $OUT/capture.txt)" >&2; exit 2; }
STILL="$(ls "$OUT"/still/*.png | head -1)"

# --- The player. -------------------------------------------------------------
(cd "$PROD" && exec "$PLAYER" >"$OUT/player.out" 2>"$OUT/player.err") &
PID=$!
say "player $PID started"
# Every wait below is bounded; a sanitizer build draws a frame in seconds.
"$SHOT" --lit --within 180 >"$OUT/first.txt" 2>&1 || fail "the show never appeared ($(cat "$OUT/first.txt"))"

rss() { awk '/^VmRSS/ {print $2}' "/proc/$PID/status" 2>/dev/null || echo 0; }
START=$SECONDS
echo "seconds,rss_kib" > "$OUT/rss.csv"
echo "0,$(rss)" >> "$OUT/rss.csv"

# --- Random edits. -------------------------------------------------------------
TARGETS=(data/scenes/room.xml data/models/cube.obj data/models/plane.obj data/textures/soak.png
         data/materials.xml data/timeline.xml data/shaders/deferred.fs data/shaders/simple.fs data.pack)
RANDOM=$SEED
EDITS=0
MAX_EDITS=$(( SECONDS_WANTED * 10 + 10 ))
NEXT_SAMPLE=$(( START + 5 ))
declare -A KINDS=()
while [ $(( SECONDS - START )) -lt "$SECONDS_WANTED" ] && [ "$EDITS" -lt "$MAX_EDITS" ]; do
  if ! kill -0 "$PID" 2>/dev/null; then fail "the player died during the edits"; break; fi
  target="${TARGETS[RANDOM % ${#TARGETS[@]}]}"
  file="$PROD/$target"
  good="$GOOD/$target"
  size=$(stat -c %s "$good")
  kind=$(( RANDOM % 7 ))
  case $kind in
    0) cp "$good" "$file.tmp" && mv "$file.tmp" "$file"; name=valid ;;
    1) head -c $(( RANDOM % 200 + 1 )) /dev/urandom > "$file"; name=malformed ;;
    2) head -c $(( RANDOM % (size + 1) )) "$good" > "$file"; name=truncated ;;
    3) half=$(( size / 2 ))  # torn: half the bytes, a pause, the rest
       head -c "$half" "$good" > "$file"
       sleep 0.$(( RANDOM % 4 + 1 ))
       tail -c +$(( half + 1 )) "$good" >> "$file"; name=torn ;;
    4) rm -f "$file"; name=deleted ;;
    5) cp "$good" "$file"; name=restored ;;
    6) if [ "$target" = data.pack ]; then  # a rewrite from another set of the content
         (cd "$PROD" && mkdir -p "$OUT/repack" && rm -rf "$OUT/repack/data" && cp -r "$GOOD/data" "$OUT/repack/" &&
          "$DEMOPACK" create data.pack --root "$OUT/repack" data >/dev/null 2>&1) || true
       else : > "$file"; fi
       name=rewritten-or-emptied ;;
  esac
  # An editor's save gets a new time even within the file system's resolution.
  [ -e "$file" ] && touch -d "@$(( $(date +%s) + EDITS % 50 + 1 ))" "$file" 2>/dev/null || true
  EDITS=$(( EDITS + 1 ))
  KINDS[$name]=$(( ${KINDS[$name]:-0} + 1 ))
  echo "$(date +%T) $name $target" >> "$OUT/edits.txt"
  if [ "$SECONDS" -ge "$NEXT_SAMPLE" ]; then
    echo "$(( SECONDS - START )),$(rss)" >> "$OUT/rss.csv"
    NEXT_SAMPLE=$(( SECONDS + 5 ))
  fi
  sleep 0.$(( RANDOM % 5 + 1 ))  # 100 to 500 ms
done
summary=""
for k in "${!KINDS[@]}"; do summary="$summary $k=${KINDS[$k]}"; done
say "$EDITS edits:$summary"

# --- Restore, and check the picture, the process and the quit. ---------------
rm -rf "$PROD/data" "$PROD/data.pack"
cp -r "$GOOD/data" "$GOOD/data.pack" "$PROD/"
# One new time for everything, later than any edit's.
find "$PROD/data" "$PROD/data.pack" -type f -exec touch -d "@$(( $(date +%s) + 120 ))" {} +
echo "$(( SECONDS - START )),$(rss)" >> "$OUT/rss.csv"
if kill -0 "$PID" 2>/dev/null; then
  if "$SHOT" --compare "$STILL" --within 180 --tolerance 3 --save "$OUT/final.ppm" >"$OUT/final.txt" 2>&1; then
    say "the picture came back ($(cat "$OUT/final.txt") from the democapture still)"
  else
    fail "the picture did not come back ($(cat "$OUT/final.txt"); see $OUT/final.ppm)"
  fi
  echo "$(( SECONDS - START )),$(rss)" >> "$OUT/rss.csv"
  xdotool key Escape
  for _ in $(seq 1 600); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$PID" 2>/dev/null; then
    fail "still running 60 s after Escape"; kill -9 "$PID" 2>/dev/null || true
  fi
else
  fail "the player was gone before the restore"
fi
status=0
wait "$PID" || status=$?
[ "$status" -eq 0 ] && say "quit on Escape with status 0" || fail "exit status $status"
if grep -qE "ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:" "$OUT/player.err"; then
  fail "sanitizer report in $OUT/player.err"
fi

# --- Memory: the RSS series and its slope after the first fifth. --------------
python3 - "$OUT/rss.csv" <<'PY' | tee -a "$LOG"
import csv, sys
rows = [(float(r["seconds"]), int(r["rss_kib"]) / 1024) for r in csv.DictReader(open(sys.argv[1])) if int(r["rss_kib"]) > 0]
if len(rows) < 3:
    print("rss: too few samples"); sys.exit(0)
warm = [r for r in rows if r[0] >= rows[-1][0] / 5] or rows
n = len(warm)
mx = sum(t for t, _ in warm) / n; my = sum(m for _, m in warm) / n
sxx = sum((t - mx) ** 2 for t, _ in warm)
slope = sum((t - mx) * (m - my) for t, m in warm) / sxx * 60 if sxx else 0.0
print("rss MiB: first %.0f, min %.0f, max %.0f, last %.0f; slope after warm-up %+.2f MiB/min over %d samples"
      % (rows[0][1], min(m for _, m in rows), max(m for _, m in rows), rows[-1][1], slope, n))
PY
if [ "$FAILED" -eq 0 ]; then say "soak passed"; else say "soak FAILED"; fi
exit "$FAILED"
