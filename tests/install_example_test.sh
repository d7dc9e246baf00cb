#!/usr/bin/env bash
# Installs tagkit into a temporary prefix and builds the example against it
# twice: through find_package(tagkit) and through pkg-config. Both builds must
# read and retitle a file.
set -euo pipefail
build=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -f "$prefix/include/tagkit/tagkit.h" ] || fail "tagkit.h not installed"
[ ! -e "$prefix/include/tagkit/id3_internal.h" ] || fail "an internal header was installed"
libdir=$(dirname "$(find "$prefix" -name 'libtagkit.so.2' -print -quit)")
[ -n "$libdir" ] && [ "$libdir" != . ] || fail "libtagkit.so.2 not installed"
[ -L "$libdir/libtagkit.so" ] || fail "libtagkit.so link missing"
[ -f "$libdir/cmake/tagkit/tagkitConfig.cmake" ] || fail "CMake package missing"
[ -f "$libdir/pkgconfig/tagkit.pc" ] || fail "tagkit.pc missing"

cmake -S "$source_dir/examples" -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" >/dev/null

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
g++ -std=c++17 -Wall -Wextra -Werror "$source_dir/examples/retitle.cc" \
  $(pkg-config --cflags --libs tagkit) -o "$work/with-pkg-config"

export LD_LIBRARY_PATH=$libdir
for program in "$work/with-cmake/retitle" "$work/with-pkg-config"; do
  printf '\xff\xfb\x90\x00audio bytes that carry no tag' > "$work/song.mp3"
  out=$("$program" "$work/song.mp3" "First")
  grep -qx "title: (none)" <<<"$out" || fail "$program: unexpected first output: $out"
  out=$("$program" "$work/song.mp3" "Second")
  grep -qx "title: First" <<<"$out" || fail "$program: title not written: $out"
done
echo "install and example: 2 passed, 0 failed"
