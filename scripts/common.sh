# Shared by scripts/run and scripts/test: set the machine up, then configure and build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

ffmpeg_prefix=$(scripts/bootstrap | tail -n 1)
cmake_ffmpeg=()
[ "$ffmpeg_prefix" = system ] || cmake_ffmpeg=(-DCODEC_FFMPEG_PREFIX="$ffmpeg_prefix")

# build_tree NAME [cmake options...]: configure build/NAME with Ninja and build everything.
build_tree() {
  local name=$1
  shift
  cmake -S . -B "build/$name" -G Ninja -DCODEC_WERROR=ON "${cmake_ffmpeg[@]}" "$@" >/dev/null
  cmake --build "build/$name"
}
