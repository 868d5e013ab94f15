# Sourced by the scripts that need a source package of Debian trixie on Debian 12: apt fetches it
# through a private sources and lists folder, so the machine's apt configuration is not touched
# and nothing is installed from trixie.

# fetch_trixie_source DIR PACKAGE: downloads PACKAGE's source into DIR/src and prints the path of
# its upstream tarball, the only file the callers use.
fetch_trixie_source() {
  local work=$1 package=$2
  local aptdir=$work/apt
  mkdir -p "$aptdir/sources" "$aptdir/lists/partial" "$work/src"
  cat >"$aptdir/sources/trixie-src.sources" <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$aptdir/sources"
              -o "Dir::State::Lists=$aptdir/lists" -o APT::Sandbox::User=root)
  # One index per DIR: several packages fetched into the same DIR share it.
  compgen -G "$aptdir/lists/*Sources*" >/dev/null || apt-get "${opts[@]}" update -qq
  # A Debian file of the package that cannot be had (its .dsc, say) does not matter as long as
  # the upstream tarball came; apt's complaint is shown only when it did not.
  (cd "$work/src" && apt-get "${opts[@]}" source --download-only -qq "$package") \
    >"$work/apt-source.log" 2>&1 || true
  local orig
  orig=$(ls "$work/src/${package}_"*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n1 || true)
  if [ -z "$orig" ]; then
    cat "$work/apt-source.log" >&2
    echo "no $package source tarball fetched" >&2
    return 1
  fi
  echo "$orig"
}

# ensure_d3d12_headers DIR: trixie's d3d12video.h, which Debian 12's MinGW lacks (FFmpeg's
# D3D12VA code needs it), and the newer d3d12.h it needs beside it, unpacked once into DIR.
ensure_d3d12_headers() {
  local dir=$1 work orig members=()
  [ -f "$dir/.complete" ] && return 0
  work=$(mktemp -d "${TMPDIR:-/tmp}/codec-d3d12-headers.XXXXXX")
  orig=$(fetch_trixie_source "$work" mingw-w64) || { rm -rf "$work"; return 1; }
  for h in d3d12.h d3d12video.h; do members+=("*/mingw-w64-headers/include/$h"); done
  mkdir -p "$work/out"
  tar -xf "$orig" -C "$work/out" --strip-components=3 --wildcards "${members[@]}"
  touch "$work/out/.complete"
  mkdir -p "$(dirname "$dir")"
  rm -rf "$dir"
  mv "$work/out" "$dir"
  rm -rf "$work"
}
