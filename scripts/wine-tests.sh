#!/usr/bin/env bash
# The Windows build's tests under Wine, on the display the caller provides
# (scripts/test.sh runs it under xvfb-run): every test of build-windows/, then
# the same stills of the bundled production from democapture.exe and from
# the Linux democapture, which must be pixel-identical.
#   scripts/wine-tests.sh JOBS
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${1:-$(nproc)}"

# One Wine server and its helper processes for the whole run, started with
# their output away from ctest's pipes (a helper holding a test's pipe makes
# ctest wait seconds for each test), and stopped at the end. The virtual
# display has no window manager: Wine must not wait for one (it would give
# each closing window 2 s to be withdrawn by it).
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT

status=0
ctest --test-dir "$ROOT/build-windows" --output-on-failure --no-tests=error -j "$JOBS" --timeout 300 || status=1

# One time in each of the four scenes, both builds, the same pixels. (Shots
# whose particles have drifted for many seconds can differ in a few pixels:
# the two systems' math libraries round sinf, cosf, powf and expf differently
# in the last bit.)
LINUX_CAPTURE="$ROOT/build/tools/democapture"
if [ ! -x "$LINUX_CAPTURE" ]; then
  echo "no Linux build: the Windows stills are not compared"
  exit $status
fi
work="$(mktemp -d)"
cp -r "$ROOT/demo/." "$work/"
(cd "$work" && "$LINUX_CAPTURE" --at 12 --at 28 --at 44 --at 84 --size 640x360 --out linux >/dev/null) || status=1
(cd "$work" && wine "$ROOT/build-windows/tools/democapture.exe" --at 12 --at 28 --at 44 --at 84 --size 640x360 \
   --out windows </dev/null >/dev/null) || status=1
for still in "$work"/linux/*.png; do
  name="$(basename "$still")"
  psnr="$(python3 "$ROOT/scripts/psnr.py" "$still" "$work/windows/$name" 2>&1)"
  echo "stills $name, Linux against Windows: PSNR $psnr"
  [ "$psnr" = "inf" ] || status=1
done
[ -n "$(ls "$work"/linux/*.png 2>/dev/null)" ] || { echo "no stills were made"; status=1; }
rm -rf "$work"
exit $status
