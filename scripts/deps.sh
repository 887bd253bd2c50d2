#!/usr/bin/env bash
# Installs the Debian packages the player, its tools and its tests need,
# only those that are missing. Uses sudo when not run as root.
set -euo pipefail

PACKAGES=(
  cmake ninja-build pkg-config g++ clang
  libsdl2-dev libglew-dev libglm-dev libpugixml-dev libstb-dev zlib1g-dev libdeflate-dev libmpg123-dev
  libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri libgles-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev libtinyobjloader-dev
  xvfb xauth xdotool lame ffmpeg glslang-tools
)

# --web-test: the browser the web build's tests drive instead (the test
# command's web stage), kept apart so that playing never installs it.
if [ "${1:-}" = "--web-test" ]; then
  PACKAGES=(chromium python3-websocket python3)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# One line here; the package manager's own output goes to a log that is
# shown only when it fails.
LOG="$(mktemp /tmp/demoplayer-deps-XXXXXX.log)"
echo "== installing ${#missing[@]} Debian packages: ${missing[*]}"
if ! { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
       --no-install-recommends "${missing[@]}"; } >"$LOG" 2>&1; then
  cat "$LOG" >&2
  echo "deps: installing the packages failed (log: $LOG)" >&2
  exit 1
fi
rm -f "$LOG"
