#!/usr/bin/env bash
# Soak test of the tools' promise that an output is replaced whole or not at
# all: runs `democapture --video` and `demopack create` over and over on the
# same output names, kills each run at a random moment with SIGINT, SIGTERM,
# SIGHUP or SIGKILL (or lets it finish), and checks after every run that the
# output is either byte-identical to the one before or a complete new one
# (a video with every frame, a pack that lists every entry), that a run ended
# by a catchable signal exits non-zero and leaves no partial file, and that
# the next run takes over a partial file that SIGKILL left behind.
#
#   scripts/soak-tools.sh [--seconds N] [--build DIR] [--seed N] [--out DIR]
#
#   --seconds  length of the kill phase (default 60)
#   --build    build folder of the tools under test (default build/)
#   --seed     seed of the kill sequence (default: from the clock; printed)
#   --out      folder for the log and the outputs (default: a new folder in /tmp)
#
# Needs ffmpeg/ffprobe and xvfb-run when there is no DISPLAY. Exit status 0
# when every check held.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_WANTED=60
BUILD="$ROOT/build"
SEED=""
OUT=""
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
[ -n "$OUT" ] || OUT="$(mktemp -d /tmp/demo-soak-tools-XXXXXX)"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" \
    bash "$0" --seconds "$SECONDS_WANTED" --build "$BUILD" --seed "$SEED" --out "$OUT"
fi

CAPTURE="$BUILD/tools/democapture"
DEMOPACK="$BUILD/tools/demopack"
for tool in "$CAPTURE" "$DEMOPACK"; do
  [ -x "$tool" ] || { echo "soak-tools: $tool is missing; build it first" >&2; exit 2; }
done
command -v ffprobe >/dev/null || { echo "soak-tools: ffprobe is missing (apt-get install ffmpeg)" >&2; exit 2; }

export SDL_AUDIODRIVER=dummy
export MESA_SHADER_CACHE_DISABLE=true
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$ROOT/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1"

LOG="$OUT/soak-tools.log"
: > "$LOG"
say() { echo "$(date +%T) $*" | tee -a "$LOG"; }
FAILED=0
fail() { say "FAIL: $*"; FAILED=1; }
RANDOM=$SEED
say "soak of $CAPTURE and $DEMOPACK for $SECONDS_WANTED s, seed $SEED, output in $OUT"

# The test production, and content for packs large enough to take a while.
PROD="$OUT/production"
rm -rf "$PROD"
mkdir -p "$PROD/data/shaders" "$PROD/bulk"
cp -r "$ROOT/tests/production/data/." "$PROD/data/"
cp -r "$ROOT/demo/data/shaders/." "$PROD/data/shaders/"
cp "$ROOT/tests/fixtures/piece-8000-1-10.0.mp3" "$PROD/music.mp3"
for i in 1 2 3 4 5 6; do head -c $((4 << 20)) /dev/urandom > "$PROD/bulk/noise$i.bin"; done
for i in 1 2 3 4 5 6; do { yes "v $i 0.5 0.25" || true; } | head -c $((4 << 20)) > "$PROD/bulk/model$i.obj"; done
cd "$PROD"

sum() { if [ -e "$1" ]; then sha256sum "$1" | cut -d' ' -f1; else echo none; fi; }
frames() { ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1" 2>/dev/null || true; }

# A run of "$@" killed after a random delay (or let finish): sets STATUS and SIG.
run_and_maybe_kill() {
  local log="$1"; shift
  "$@" > "$log" 2>&1 &
  local pid=$!
  local sigs=(INT TERM HUP KILL NONE)
  SIG=${sigs[$((RANDOM % 5))]}
  if [ "$SIG" != NONE ]; then
    local ms=$((RANDOM % 3000))
    sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
    kill -s "$SIG" "$pid" 2>/dev/null || SIG=NONE  # already ended
  fi
  local start=$SECONDS
  while kill -0 "$pid" 2>/dev/null; do
    if [ $((SECONDS - start)) -gt 120 ]; then fail "$1 still runs 120 s after SIG$SIG"; kill -9 "$pid"; break; fi
    sleep 0.1
  done
  set +e; wait "$pid"; STATUS=$?; set -e
}

# Checks a run's outcome: `check_whole FILE` says whether FILE is complete.
check_run() {
  local what="$1" file="$2" before="$3" partial="$4" check="$5"
  local after; after=$(sum "$file")
  if [ "$STATUS" -eq 0 ]; then
    "$check" "$file" || fail "$what exited 0 but $file is not whole"
  else
    [ "$after" = "$before" ] || fail "$what exited $STATUS (SIG$SIG) and $file changed"
    case "$SIG" in
      KILL) ;;  # a partial file may stay; the next run must take it over
      NONE) fail "$what failed on its own with status $STATUS: $(tail -2 "$OUT/run.log")" ;;
      *) [ ! -e "$partial" ] || fail "$what left $partial after SIG$SIG" ;;
    esac
  fi
}

VIDEO_FRAMES=0
video_whole() { [ "$(frames "$1")" = "$VIDEO_FRAMES" ]; }
PACK_ENTRIES=0
pack_whole() { "$DEMOPACK" list "$1" 2>/dev/null | tail -1 | grep -q "^$PACK_ENTRIES files"; }

runs=0
killed=0
finished=0
end=$((SECONDS + SECONDS_WANTED))
while [ $SECONDS -lt $end ]; do
  runs=$((runs + 1))
  if [ $((RANDOM % 2)) -eq 0 ]; then
    before=$(sum keep.mp4)
    to=$((1 + RANDOM % 4))
    VIDEO_FRAMES=$((to * 10))
    run_and_maybe_kill "$OUT/run.log" "$CAPTURE" --video keep.mp4 --from 0 --to "$to" --fps 10 \
      --size 160x90 --preset ultrafast
    check_run "democapture --video (to $to s)" keep.mp4 "$before" .keep.mp4.part.mp4 video_whole
  else
    before=$(sum keep.pack)
    subset=(data bulk)
    [ $((RANDOM % 2)) -eq 0 ] && subset=(data)
    PACK_ENTRIES=$(find "${subset[@]}" -type f | wc -l)
    run_and_maybe_kill "$OUT/run.log" "$DEMOPACK" create keep.pack "${subset[@]}"
    check_run "demopack create ${subset[*]}" keep.pack "$before" .keep.pack.part.pack pack_whole
  fi
  if [ "$SIG" = NONE ]; then finished=$((finished + 1)); say "run $runs: ran to its end, status $STATUS"
  else killed=$((killed + 1)); say "run $runs: SIG$SIG, status $STATUS"; fi
done

# A last run of each to its end: it takes over whatever SIGKILL left.
VIDEO_FRAMES=10
"$CAPTURE" --video keep.mp4 --from 0 --to 1 --fps 10 --size 160x90 --preset ultrafast > "$OUT/run.log" 2>&1 \
  || fail "the last democapture run failed: $(tail -2 "$OUT/run.log")"
video_whole keep.mp4 || fail "the last video is not whole"
PACK_ENTRIES=$(find data -type f | wc -l)
"$DEMOPACK" create keep.pack data > "$OUT/run.log" 2>&1 || fail "the last demopack run failed: $(tail -2 "$OUT/run.log")"
pack_whole keep.pack || fail "the last pack is not whole"
leftovers=$(find . -maxdepth 1 -name '.keep*' | wc -l)
[ "$leftovers" -eq 0 ] || fail "partial files left after the last runs: $(find . -maxdepth 1 -name '.keep*')"

if [ "$FAILED" -eq 0 ]; then say "PASS: $runs runs, $killed killed, $finished to their end"; else say "soak-tools failed (seed $SEED)"; fi
exit "$FAILED"
