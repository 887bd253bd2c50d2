#!/usr/bin/env bash
# Tests the Debian package as a user gets it. Builds it (scripts/package.sh,
# in build-package/), unpacks it into a temporary root with dpkg -x, and checks
# that:
#   - every installed program answers --version ("PROGRAM VERSION") and --help
#     with status 0;
#   - demoplayer-demo without a display says so and exits 1;
#   - the installed demolint --werror passes on the installed production;
#   - the installed democapture renders the same still, byte for byte, as the
#     build tree's;
#   - where the installed demogen has `new`, the starter production it makes
#     lints clean under --werror;
#   - as root (and with no demoplayer installed already): dpkg -i installs it,
#     demoplayer-demo plays, and apt-get remove leaves none of its files.
# One line per step; the tools' output goes to build-package/package-test.log,
# shown on failure.
#   --build DIR  the build tree whose democapture makes the reference still (default: build)
#   --deb FILE   test this package instead of building one
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
REFERENCE="$ROOT/build"
DEB=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) REFERENCE="$(cd "$2" && pwd)"; shift 2 ;;
    --deb) DEB="$(realpath "$2")"; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--deb FILE]" >&2; exit 2 ;;
  esac
done

export SDL_AUDIODRIVER=dummy
export MESA_SHADER_CACHE_DISABLE=true
mkdir -p "$ROOT/build-package"
LOG="$ROOT/build-package/package-test.log"
: >"$LOG"
WORK="$(mktemp -d)"
INSTALLED=0
cleanup() {
  # A failed run must not leave the package on the machine.
  if [ "$INSTALLED" -eq 1 ]; then apt-get remove -y -qq demoplayer >>"$LOG" 2>&1 || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "package-test: FAILED: $*" >&2
  echo "package-test: the log ($LOG) ends:" >&2
  tail -n 40 "$LOG" >&2
  exit 1
}
# step "what" command...: runs the command with its output in the log.
step() {
  local what="$1"; shift
  echo "== $what" >>"$LOG"
  "$@" >>"$LOG" 2>&1 || fail "$what"
  echo "package-test: $what: ok"
}
display() { xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$@"; }

if [ -z "$DEB" ]; then
  # The package script's last line is the package's path.
  bash "$ROOT/scripts/package.sh" | tee "$WORK/package.out" | sed 's/^/  /' || fail "scripts/package.sh"
  DEB="$(tail -n 1 "$WORK/package.out")"
fi
VERSION="$(dpkg-deb -f "$DEB" Version)"
[ "$(basename "$DEB")" = "demoplayer_${VERSION}_amd64.deb" ] || fail "the package's name $(basename "$DEB") is not demoplayer_${VERSION}_amd64.deb"

DEST="$WORK/root"
step "dpkg -x $(basename "$DEB")" dpkg -x "$DEB" "$DEST"
BIN="$DEST/usr/bin"
SHARE="$DEST/usr/share/demoplayer/demo"
PROGRAMS=(demoplayer demoplayer-maximised demoplayer-1080p demopack democapture demolint demogen demoplayer-demo)

answers() {
  local program
  for program in "${PROGRAMS[@]}"; do
    [ -x "$BIN/$program" ] || { echo "$program is not installed"; return 1; }
    [ -f "$DEST/usr/share/man/man1/$program.1.gz" ] || { echo "$program has no manual page"; return 1; }
    local said
    said="$("$BIN/$program" --version)" || { echo "$program --version failed"; return 1; }
    [ "$said" = "$program $VERSION" ] || { echo "$program --version said '$said'"; return 1; }
    "$BIN/$program" --help | grep -q '^usage:' || { echo "$program --help failed"; return 1; }
  done
  [ -f "$DEST/usr/share/man/man5/demoplayer-production.5.gz" ] || { echo "no production manual"; return 1; }
}
step "every program answers --version and --help" answers

no_display() {
  local out status=0
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY "$BIN/demoplayer-demo" 2>&1)" || status=$?
  echo "$out"
  [ "$status" -eq 1 ] && grep -q "no display" <<<"$out"
}
step "demoplayer-demo without a display says so" no_display

step "demolint --werror on the installed production" "$BIN/demolint" --werror "$SHARE"

same_still() {
  [ -x "$REFERENCE/tools/democapture" ] || { echo "no $REFERENCE/tools/democapture to compare with"; return 1; }
  (cd "$SHARE" && display "$BIN/democapture" --at 30 --size 320x180 --out "$WORK/installed") || return 1
  (cd "$SHARE" && display "$REFERENCE/tools/democapture" --at 30 --size 320x180 --out "$WORK/built") || return 1
  cmp "$WORK/installed/capture-00030.000.png" "$WORK/built/capture-00030.000.png"
}
step "democapture: the installed one's still is the build tree's" same_still

if "$BIN/demogen" --help | grep -q 'demogen new'; then
  step "demogen new makes a production that lints clean" \
    bash -c '"$0/demogen" new "$1/starter" && "$0/demolint" --werror "$1/starter"' "$BIN" "$WORK"
else
  echo "package-test: demogen new: skipped (this demogen has no 'new')"
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: dpkg -i and apt-get remove: skipped (not root)"
  exit 0
fi
if dpkg-query -W -f='${Status}' demoplayer 2>/dev/null | grep -q "install ok installed"; then
  echo "package-test: dpkg -i and apt-get remove: skipped (demoplayer is already installed here)"
  exit 0
fi
# Folders that were there before belong to others and stay.
dpkg -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$WORK/paths"
while read -r path; do [ -e "$path" ] && echo "$path"; done <"$WORK/paths" >"$WORK/before" || true
INSTALLED=1
step "dpkg -i" dpkg -i "$DEB"

plays() {
  # The player runs until the end of the music; five seconds in, it is ended
  # the way Escape ends it.
  display bash -c 'demoplayer-demo & pid=$!; sleep 5; kill -0 $pid || exit 1; kill -TERM $pid; wait $pid' \
    >"$WORK/played" 2>&1 || { cat "$WORK/played"; return 1; }
  cat "$WORK/played"
  # It read the running order from the installed folder.
  grep -q "data/timeline.xml" "$WORK/played"
}
step "demoplayer-demo plays the installed production" plays

dpkg -L demoplayer >"$WORK/listed"
step "apt-get remove" apt-get remove -y -qq demoplayer
INSTALLED=0
left_behind() {
  local left=0 path
  while read -r path; do
    [ -e "$path" ] || continue
    grep -qxF "$path" "$WORK/before" && continue
    echo "left behind: $path"
    left=1
  done <"$WORK/listed"
  ! dpkg-query -W -f='${Status}' demoplayer 2>/dev/null | grep -q "ok installed" || { echo "still known to dpkg"; left=1; }
  return "$left"
}
step "nothing left behind" left_behind
