#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, checks that every installed header
# compiles on its own, builds a consumer with find_package and one with pkg-config, runs
# both on a real image file, and removes the prefix.
#   consumers_test.sh BUILD_DIR SOURCE_DIR_OF_THE_CONSUMER
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/orvax-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(dirname "$(find "$prefix" -name 'libtessera.so' | head -1)")
echo "installed into $prefix (libraries in ${libdir#"$prefix"/})"

# The soname carries the major version, and the memory context is defined in the library.
readelf -d "$libdir/libtessera.so" >"$work/dynamic.txt"
grep -q 'SONAME.*libtessera\.so\.2\]' "$work/dynamic.txt" || { echo "libtessera's soname is not libtessera.so.2" >&2; exit 1; }
nm -DC --defined-only "$libdir/libtessera.so" >"$work/symbols.txt"
grep -q 'orvax::win::MemoryDC::MemoryDC' "$work/symbols.txt" ||
  { echo "libtessera does not define the memory device context" >&2; exit 1; }

# Every installed header compiles alone.
( cd "$prefix/include" && find . -name '*.h' | sed 's|^\./||' ) | while read -r header; do
  printf '#include <%s>\n' "$header" | c++ -std=c++20 -fsyntax-only -I"$prefix/include" -x c++ - ||
    { echo "installed header $header does not compile on its own" >&2; exit 1; }
done

# Kroma's exports are plain C, and so is its header.
printf '#include <kroma.h>\n' | cc -std=c11 -fsyntax-only -I"$prefix/include" -x c - ||
  { echo "kroma.h does not compile as C" >&2; exit 1; }

# A 24-bit BMP of one colour, written by Pillow.
/usr/bin/python3 -c "from PIL import Image; Image.new('RGB', (7, 5), (200, 100, 50)).save('$work/flat.bmp')"

# find_package
cmake -S "$source" -B "$work/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log"
cmake --build "$work/cmake-consumer" >"$work/build.log"
"$work/cmake-consumer/consumer" "$work/flat.bmp" 200 100 50

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
test "$(pkg-config --modversion tessera)" = 2.0
# shellcheck disable=SC2046
c++ -std=c++20 -o "$work/pc-consumer" "$source/consumer.cpp" $(pkg-config --cflags --libs tessera kroma) \
  -Wl,-rpath,"$libdir"
"$work/pc-consumer" "$work/flat.bmp" 200 100 50
echo "consumers passed"
