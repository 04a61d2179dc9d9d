#!/bin/sh
# Builds the loader fuzz target with clang's libFuzzer and AddressSanitizer (not part of CI).
#   tests/texture/fuzz/build.sh [OUT_DIR]        (default build-texture-fuzz)
#   FUZZ_LOADER=N OUT_DIR/fuzz_loaders -max_total_time=60 CORPUS_DIR
# N: 0 PCX, 1 LBM/IFF, 2 BMP, 3 TGA, 4 DDS, 5 JPEG. Damaged JPEGs end in the fatal error by design:
# the target returns from it and leaves that decode's blocks, so run JPEG with -detect_leaks=0.
# Any other fatal error aborts, so it is reported like a crash.
set -eu
root=$(cd "$(dirname "$0")/../../.." && pwd)
out=${1:-$root/build-texture-fuzz}
mkdir -p "$out/obj"
inc="-I$root/engine -I$root/platform/include"
for d in "$root"/engine/*/; do inc="$inc -I$d"; done
flags="-std=c++17 -O1 -g -fsanitize=address,fuzzer-no-link -w $inc $(pkg-config --cflags sdl2 gtk+-3.0)"
objs=""
for src in "$root"/engine/*/*.cpp "$root"/platform/win32/*.cpp "$root"/platform/d3d8/*.cpp "$root"/platform/display/*.cpp; do
  obj="$out/obj/$(echo "$src" | sed "s|$root/||; s|/|_|g").o"
  extra=""
  # The target brings its own fatal-error path (see fuzz_loaders.cpp).
  case "$src" in */runtime/kslog.cpp) extra="-DKS_FatalError=KS_FatalErrorReplaced" ;; esac
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ]; then clang++ $flags $extra -c "$src" -o "$obj"; fi
  objs="$objs $obj"
done
clang++ $flags -fsanitize=address,fuzzer "$root/tests/texture/fuzz/fuzz_loaders.cpp" $objs \
  -o "$out/fuzz_loaders" -ljpeg -lpng $(pkg-config --libs sdl2 gtk+-3.0) -lpthread -ldl
echo "$out/fuzz_loaders"
