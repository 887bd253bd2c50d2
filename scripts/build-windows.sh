#!/usr/bin/env bash
# Cross-builds the players, tools and tests for 64-bit Windows with MinGW-w64
# into build-windows/, and packs dist/demoplayer-windows.zip. Installs what is
# missing with apt-get (sudo when not root). SDL2, GLEW, pugixml and libmpg123
# have no MinGW packages: they are built from their Debian source packages into
# a cache outside the repository ($DEMO_MINGW_CACHE, default
# ~/.cache/demoplayer-mingw), rebuilt only when a version changes.
#   --deps-only   stop once the dependencies are in the cache
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${DEMO_MINGW_CACHE:-$HOME/.cache/demoplayer-mingw}"
PREFIX="$CACHE/prefix"
BUILD="$ROOT/build-windows"
JOBS="$(nproc)"
HOST=x86_64-w64-mingw32
DEPS_ONLY=0
if [ "${1:-}" = "--deps-only" ]; then DEPS_ONLY=1; fi

. "$ROOT/scripts/debian-sources.sh"

# --- packages ---------------------------------------------------------------
PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  wine wine64 dpkg-dev cmake ninja-build pkg-config make zip
  libgtest-dev libglm-dev libstb-dev xvfb xauth
)
install_missing "${PACKAGES[@]}"

enable_sources mpg123

# --- dependencies from Debian sources ----------------------------------------
mkdir -p "$CACHE/src" "$PREFIX/lib/pkgconfig" "$PREFIX/include"
TOOLCHAIN="$ROOT/cmake/mingw-w64.cmake"
export DEMO_MINGW_PREFIX="$PREFIX"

# Runs "build_$1 SRCDIR" unless the cache holds that version already.
dep() {
  local pkg="$1" fn="$2" dir
  dir="$(unpack "$pkg")" || { echo "cannot fetch the source of $pkg" >&2; exit 1; }
  local stamp="$PREFIX/.built-$pkg"
  if [ "$(cat "$stamp" 2>/dev/null)" != "$(basename "$dir")" ]; then
    echo "== building $(basename "$dir") for Windows"
    "$fn" "$dir"
    basename "$dir" >"$stamp"
  fi
}

cmake_dep() {
  local src="$1"; shift
  rm -rf "$src/build-mingw"
  cmake -G Ninja -S "$src" -B "$src/build-mingw" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" "$@" >/dev/null
  cmake --build "$src/build-mingw" -j "$JOBS" >/dev/null
  cmake --install "$src/build-mingw" >/dev/null
}

build_sdl2() {
  # Static, so that the zip holds nothing but the programs and the production.
  cmake_dep "$1" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_STATIC_PIC=OFF
}

build_pugixml() {
  cmake_dep "$1" -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF
}

build_glew() {
  # GLEW's own makefile knows MinGW; only the static library is installed.
  mkdir -p "$1/lib"
  make -C "$1" -j "$JOBS" SYSTEM=linux-mingw64 HOST="$HOST" \
    CC="$HOST-gcc-posix" LD="$HOST-gcc-posix" AR="$HOST-ar" RANLIB="$HOST-ranlib" \
    STRIP="$HOST-strip" lib/libglew32.a >/dev/null 2>"$1/build-mingw.log"
  mkdir -p "$PREFIX/include/GL"
  cp "$1"/include/GL/*.h "$PREFIX/include/GL/"
  cp "$1/lib/libglew32.a" "$PREFIX/lib/"
  local ver; ver="$(sed -n 's/^GLEW_VERSION=//p' "$1/config/version" 2>/dev/null || true)"
  # Its own .pc file would not say GLEW_STATIC, without which the headers
  # expect the DLL.
  cat >"$PREFIX/lib/pkgconfig/glew.pc" <<EOF
prefix=$PREFIX
Name: glew
Description: OpenGL extension loader (static)
Version: ${ver:-2}
Cflags: -I\${prefix}/include -DGLEW_STATIC
Libs: -L\${prefix}/lib -lglew32 -lopengl32
EOF
}

build_mpg123() {
  (cd "$1" && rm -rf build-mingw && mkdir build-mingw && cd build-mingw &&
    ../configure --host="$HOST" CC="$HOST-gcc-posix" --prefix="$PREFIX" \
      --enable-static --disable-shared \
      --with-default-audio=dummy >/dev/null &&
    make -j "$JOBS" >/dev/null && make install >/dev/null)
  # Static users need shlwapi too, which the .pc file lists only as private.
  sed -i 's/^Libs: \(.*\)$/Libs: \1 -lshlwapi/' "$PREFIX/lib/pkgconfig/libmpg123.pc"
}

build_libdeflate() {
  # Its own makefile knows MinGW; only the static library is installed.
  make -C "$1" -j "$JOBS" CC="$HOST-gcc-posix" AR="$HOST-ar" libdeflatestatic.lib \
    >/dev/null 2>"$1/build-mingw.log"
  cp "$1/libdeflatestatic.lib" "$PREFIX/lib/libdeflate.a"
  cp "$1/libdeflate.h" "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/libdeflate.pc" <<EOF
prefix=$PREFIX
Name: libdeflate
Description: deflate compression (static)
Version: $(basename "$1" | sed 's/^libdeflate-//')
Cflags: -I\${prefix}/include
Libs: -L\${prefix}/lib -ldeflate
EOF
}

build_gtest() {
  cmake_dep "$1" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF
}

dep libsdl2 build_sdl2
dep pugixml build_pugixml
dep glew build_glew
dep mpg123 build_mpg123
dep libdeflate build_libdeflate

# GoogleTest from the copy Debian installs with libgtest-dev.
GTEST_VER="googletest-$(dpkg-query -W -f='${Version}' libgtest-dev)"
if [ "$(cat "$PREFIX/.built-googletest" 2>/dev/null)" != "$GTEST_VER" ]; then
  echo "== building $GTEST_VER for Windows"
  rm -rf "$CACHE/src/googletest" && cp -r /usr/src/googletest "$CACHE/src/googletest"
  build_gtest "$CACHE/src/googletest"
  echo "$GTEST_VER" >"$PREFIX/.built-googletest"
fi

# Header-only libraries: copies of the Debian packages' headers, since the
# host's /usr/include must stay out of a cross build. stb's implementation is
# compiled in the project (Debian's libstb is a Linux library). The copies
# keep the originals' times, so that an unchanged header rebuilds nothing.
rm -rf "$PREFIX/include/glm" "$PREFIX/include/stb"
cp -a /usr/include/glm "$PREFIX/include/glm"
cp -a /usr/include/stb "$PREFIX/include/stb"
cat >"$PREFIX/lib/pkgconfig/glm.pc" <<EOF
prefix=$PREFIX
Name: glm
Description: OpenGL mathematics (headers)
Version: $(dpkg-query -W -f='${Version}' libglm-dev)
Cflags: -I\${prefix}/include
EOF
cat >"$PREFIX/lib/pkgconfig/stb.pc" <<EOF
prefix=$PREFIX
Name: stb
Description: stb image headers
Version: 0.0
Cflags: -I\${prefix}/include -I\${prefix}/include/stb
EOF
# MinGW ships GLU's import library but no .pc file.
cat >"$PREFIX/lib/pkgconfig/glu.pc" <<EOF
Name: glu
Description: OpenGL utility library (MinGW import library)
Version: 9
Libs: -lglu32 -lopengl32
EOF

if [ "$DEPS_ONLY" -eq 1 ]; then exit 0; fi

# --- the project -------------------------------------------------------------
# The Linux build's optimisation, without its debug information: the zip's
# programs are stripped, and the cross-build is a CI stage that should be quick.
cmake -G Ninja -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DDEMO_MINGW_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DDEMO_BUILD_BENCH=OFF -DDEMO_BUILD_TESTS=ON -DDEMO_BUILD_FUZZ=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS"

# --- the zip -----------------------------------------------------------------
DIST="$ROOT/dist/demoplayer-windows"
# Its own outputs only: dist/ also holds the web build.
rm -rf "$DIST" "$ROOT/dist/demoplayer-windows.zip" && mkdir -p "$DIST"
for exe in demoplayer.exe demoplayer-maximised.exe demoplayer-1080p.exe \
           tools/demopack.exe tools/democapture.exe tools/demolint.exe; do
  "$HOST-strip" -o "$DIST/$(basename "$exe")" "$BUILD/$exe"
done
cp -r "$ROOT/demo/." "$DIST/"
(cd "$ROOT/dist" && zip -qr demoplayer-windows.zip demoplayer-windows)
echo "dist/demoplayer-windows.zip: $(du -h "$ROOT/dist/demoplayer-windows.zip" | cut -f1)"
