# Sourced by the cross builds (scripts/build-windows.sh, scripts/build-web.sh):
# installing missing Debian packages, and dependencies built from Debian
# source packages, fetched and unpacked once per version into $CACHE/src.

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Installs those of the named packages that are missing.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# Source packages come from the same archive as the binary ones: adds
# deb-src entries mirroring the deb ones when source package $1 is not known.
enable_sources() {
  if [ -n "$(apt-cache showsrc "$1" 2>/dev/null)" ]; then return 0; fi
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/demoplayer-src.sources >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/demoplayer-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
}

# Fetches and unpacks source package $1 once per version into $CACHE/src;
# prints its folder.
unpack() {
  local pkg="$1" ver dir
  ver="$(apt-cache showsrc "$pkg" | awk '/^Version:/ {print $2; exit}')"
  dir="$CACHE/src/$pkg-$ver"
  if [ ! -d "$dir" ]; then
    local tmp="$CACHE/src/tmp-$pkg"
    rm -rf "$tmp" && mkdir -p "$tmp"
    # The archive may lack an upstream signature file (.asc): apt-get then
    # fails after fetching everything else, and the unpacking goes on
    # without checking signatures.
    (cd "$tmp" && apt-get source --download-only -qq "$pkg=$ver" >&2) || true
    (cd "$tmp" && dpkg-source --no-check -x ./*.dsc "$dir" >&2) || { rm -rf "$dir"; return 1; }
    rm -rf "$tmp"
  fi
  echo "$dir"
}
