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
  apt-get "${opts[@]}" update -qq
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
