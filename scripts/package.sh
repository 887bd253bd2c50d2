#!/usr/bin/env bash
# Builds the Debian package: a Release build of the players and tools in
# build-package/ (no tests, no benchmarks), with Debian's hardening flags,
# packed by CPack into dist/demoplayer_VERSION_amd64.deb, then checked by
# lintian (its report in build-package/lintian.txt; an error fails).
# Installs what it needs with apt-get (sudo when not root); the tool output
# goes to build-package/package.log, shown on failure. Prints the package's path.
#   --no-lintian   skip the check (the test's own runs check the same bytes once)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-package"
DIST="$ROOT/dist"
LINTIAN=1
for arg in "$@"; do
  case "$arg" in
    --no-lintian) LINTIAN=0 ;;
    *) echo "usage: $0 [--no-lintian]" >&2; exit 2 ;;
  esac
done

mkdir -p "$BUILD"
LOG="$BUILD/package.log"
: >"$LOG"
step() {
  local what="$1"; shift
  echo "package: $what"
  if ! "$@" >>"$LOG" 2>&1; then
    echo "package: $what failed; the log ($LOG) ends:" >&2
    tail -n 40 "$LOG" >&2
    exit 1
  fi
}

# The build's own needs, then what packing and checking need.
step "installing what is missing" bash -c '
  "$0/scripts/deps.sh"
  missing=()
  for p in dpkg-dev file gzip python3 lintian; do
    dpkg-query -W -f="\${Status}" "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && exit 0
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"' "$ROOT"

# Every option set here, whatever the folder held before. Debian's hardening
# flags (stack protector, fortified functions, PIE, full RELRO, now-binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
step "configuring $BUILD" cmake -G Ninja -S "$ROOT" -B "$BUILD" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DDEMO_BUILD_TESTS=OFF -DDEMO_BUILD_BENCH=OFF -DDEMO_BUILD_FUZZ=OFF -DSANITIZE= -DDEMO_MANPAGES=ON \
  "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
step "building" cmake --build "$BUILD" -j "$(nproc)"
step "packing" bash -c 'cd "$0" && rm -rf cpack && cpack -G DEB -B cpack' "$BUILD"

debs=("$BUILD"/cpack/demoplayer_*_amd64.deb)
[ -f "${debs[0]}" ] || { echo "package: cpack wrote no demoplayer_*_amd64.deb" >&2; exit 1; }
name="$(basename "${debs[0]}")"
# Into dist/ whole or not at all.
mkdir -p "$DIST"
cp "${debs[0]}" "$DIST/.$name.part"
mv -f "$DIST/.$name.part" "$DIST/$name"

if [ "$LINTIAN" -eq 1 ]; then
  echo "package: lintian"
  lintian -I --tag-display-limit 0 "$DIST/$name" >"$BUILD/lintian.txt" 2>&1 || true
  if grep -q '^E: ' "$BUILD/lintian.txt"; then
    echo "package: lintian found errors:" >&2
    grep '^E: ' "$BUILD/lintian.txt" >&2
    exit 1
  fi
  echo "package: lintian: no errors, $(grep -c '^W: ' "$BUILD/lintian.txt" || true) warnings (build-package/lintian.txt)"
fi
echo "$DIST/$name"
