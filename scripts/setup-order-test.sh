#!/usr/bin/env bash
# The README's two set-up commands, in the README's order, on a fresh clone of
# the committed tree, as a new user runs them: scripts/play.sh (on a virtual
# display, ended once the player's window shows), then the quick test command.
# Fails unless the player came up and ended cleanly, and the quick tests ran
# every test the build lists, all passing.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="$(mktemp -d /tmp/demoplayer-setup-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
CLONE="$WORK/clone"
git clone -q "$ROOT" "$CLONE"

# The player's window under a display of its own, then SIGTERM, which ends
# it the way Escape does.
PLAY_LOG="$WORK/play.log"
status=0
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" bash -c '
  bash "$1/scripts/play.sh" >"$2" 2>&1 &
  play=$!
  for _ in $(seq 1 1800); do
    if xdotool search --name "^Caldera @ Lanternfall2018$" >/dev/null 2>&1; then
      sleep 1
      kill -TERM "$play"
      wait "$play"
      exit $?
    fi
    kill -0 "$play" 2>/dev/null || { wait "$play"; echo "play.sh ended before a window showed ($?)"; exit 1; }
    sleep 0.5
  done
  echo "no player window after 15 minutes"; kill -KILL "$play"; exit 1
' _ "$CLONE" "$PLAY_LOG" || status=$?
if [ "$status" -ne 0 ]; then
  cat "$PLAY_LOG"
  echo "setup-order: scripts/play.sh did not play and end cleanly (status $status)" >&2
  exit 1
fi
echo "   play.sh: the window showed and SIGTERM ended the player with status 0"

TEST_LOG="$WORK/test.log"
if ! bash "$CLONE/scripts/test.sh" --quick >"$TEST_LOG" 2>&1; then
  tail -n 200 "$TEST_LOG"
  echo "setup-order: the quick test command failed after play.sh" >&2
  exit 1
fi
listed=$(ctest --test-dir "$CLONE/build" -N | sed -n 's/^Total Tests: \([0-9]*\)$/\1/p')
ran=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$TEST_LOG" | tail -n 1)
if [ -z "$listed" ] || [ "$listed" -eq 0 ] || [ "$ran" != "$listed" ]; then
  tail -n 40 "$TEST_LOG"
  echo "setup-order: the quick tests ran ${ran:-no} tests of the ${listed:-no} the build lists" >&2
  exit 1
fi
echo "   test.sh --quick after play.sh: all $ran tests ran and passed"
