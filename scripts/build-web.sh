#!/usr/bin/env bash
# Builds the player for browsers with emscripten into build-web/ and makes
# dist/web/: index.html, demoplayer.js and demoplayer.wasm, the production's
# data.pack and music.mp3. Serve that folder with any static server. Installs
# what is missing with apt-get (sudo when not root). pugixml and libdeflate
# are built from their Debian source packages into a cache outside the
# repository ($DEMO_WEB_CACHE, default ~/.cache/demoplayer-web), rebuilt only
# when a version changes; emscripten's own ports would be downloaded, so none
# is used. data.pack is made by the host's demopack (built into build/).
#   --deps-only   stop once the dependencies are in the cache
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${DEMO_WEB_CACHE:-$HOME/.cache/demoplayer-web}"
PREFIX="$CACHE/prefix"
BUILD="$ROOT/build-web"
HOST_BUILD="$ROOT/build"
DIST="$ROOT/dist/web"
JOBS="${DEMO_JOBS:-$(nproc)}"
DEPS_ONLY=0
if [ "${1:-}" = "--deps-only" ]; then DEPS_ONLY=1; fi
# Debian's emscripten finds its JavaScript helpers (acorn) only here.
export NODE_PATH=/usr/share/nodejs

. "$ROOT/scripts/debian-sources.sh"

# --- packages ---------------------------------------------------------------
PACKAGES=(emscripten nodejs dpkg-dev cmake ninja-build make libglm-dev libstb-dev)
install_missing "${PACKAGES[@]}"

enable_sources pugixml

# --- dependencies from Debian sources ----------------------------------------
mkdir -p "$CACHE/src" "$PREFIX/lib/pkgconfig" "$PREFIX/include"

# Runs "build_$1 SRCDIR" unless the cache holds that version, built by this
# emscripten, already.
EMSCRIPTEN_VER="$(dpkg-query -W -f='${Version}' emscripten)"
dep() {
  local pkg="$1" fn="$2" dir
  dir="$(unpack "$pkg")" || { echo "cannot fetch the source of $pkg" >&2; exit 1; }
  local stamp="$PREFIX/.built-$pkg" want
  want="$(basename "$dir") emscripten $EMSCRIPTEN_VER"
  if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    echo "== building $(basename "$dir") for the web"
    "$fn" "$dir"
    echo "$want" >"$stamp"
  fi
}

build_pugixml() {
  local src="$1"
  rm -rf "$src/build-web"
  emcmake cmake -G Ninja -S "$src" -B "$src/build-web" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF >/dev/null
  cmake --build "$src/build-web" -j "$JOBS" >/dev/null
  cmake --install "$src/build-web" >/dev/null
}

build_libdeflate() {
  # Its own makefile; only the static library is installed.
  make -C "$1" clean >/dev/null 2>&1 || true
  make -C "$1" -j "$JOBS" CC=emcc AR=emar CFLAGS="-O2" libdeflate.a >/dev/null 2>"$1/build-web.log"
  cp "$1/libdeflate.a" "$PREFIX/lib/libdeflate.a"
  cp "$1/libdeflate.h" "$PREFIX/include/"
}

dep pugixml build_pugixml
dep libdeflate build_libdeflate

# Header-only libraries: copies of the Debian packages' headers, since the
# host's /usr/include must stay out of the build. stb's implementation is
# compiled in the project. The copies keep the originals' times, so that an
# unchanged header rebuilds nothing.
rm -rf "$PREFIX/include/glm" "$PREFIX/include/stb"
cp -a /usr/include/glm "$PREFIX/include/glm"
cp -a /usr/include/stb "$PREFIX/include/stb"

if [ "$DEPS_ONLY" -eq 1 ]; then exit 0; fi

# --- the project -------------------------------------------------------------
emcmake cmake -G Ninja -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release \
  -DDEMO_WEB_PREFIX="$PREFIX" -DDEMO_BUILD_TESTS=OFF -DDEMO_BUILD_BENCH=OFF -DDEMO_BUILD_FUZZ=OFF >/dev/null
# obj_numbers: the test web_obj_numbers compares its numbers with the desktop's.
cmake --build "$BUILD" -j "$JOBS" --target demoplayer obj_numbers

# The pack, by the host's own tool.
if [ ! -x "$HOST_BUILD/tools/demopack" ]; then
  if [ ! -f "$HOST_BUILD/build.ninja" ]; then
    "$ROOT/scripts/deps.sh"
    cmake -G Ninja -S "$ROOT" -B "$HOST_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_BUILD_BENCH=OFF >/dev/null
  fi
  cmake --build "$HOST_BUILD" -j "$JOBS" --target demopack
fi

# --- dist/web, whole or not at all ---------------------------------------------
STAGE="$ROOT/dist/.web.part"
rm -rf "$STAGE" && mkdir -p "$STAGE"
cp "$ROOT/web/index.html" "$BUILD/demoplayer.js" "$BUILD/demoplayer.wasm" "$STAGE/"
cp "$ROOT/demo/music.mp3" "$STAGE/"
(cd "$ROOT/demo" && "$HOST_BUILD/tools/demopack" create "$STAGE/data.pack" data >/dev/null)
rm -rf "$DIST.old"
if [ -d "$DIST" ]; then mv "$DIST" "$DIST.old"; fi
mv "$STAGE" "$DIST"
rm -rf "$DIST.old"
for f in index.html demoplayer.js demoplayer.wasm data.pack music.mp3; do
  printf '%-18s %s\n' "$f" "$(du -h "$DIST/$f" | cut -f1)"
done
echo "dist/web: serve it with any static server, e.g. python3 -m http.server -d dist/web"
