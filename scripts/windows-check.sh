#!/usr/bin/env bash
# The Windows check. Installs the MinGW-w64 cross compilers and Wine, builds
# the 32-bit DLL (compiled and linked only: this machine type cannot run
# 32-bit Windows programs) and checks what it exports and imports, then builds
# the 64-bit DLL with the test suite and runs the suite under Wine, headless,
# in a throwaway Wine prefix.
#
# Fails loudly, never waits forever: every install, start-up and test run has
# a time limit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

jobs=$(nproc)
started=$SECONDS
phase_started=$SECONDS
phase() {  # phase NAME: prints the time the previous phase took
  local now=$SECONDS
  if [ -n "${phase_name:-}" ]; then
    echo "== ${phase_name}: $((now - phase_started)) s"
  fi
  phase_name=$1
  phase_started=$now
  [ -n "$1" ] && echo "== $1"
  return 0
}
die() {
  echo "windows-check: FAILED: $*" >&2
  exit 1
}

# ---- Tools -------------------------------------------------------------------
phase "installing the cross compilers and Wine"
WIN_PACKAGES=(cmake make python3 libboost-dev googletest libz-mingw-w64-dev
              g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
              binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 wine)
missing=()
for p in "${WIN_PACKAGES[@]}"; do
  pkg_status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$pkg_status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  timeout 600 apt-get -o DPkg::Lock::Timeout=300 update -qq \
    || die "apt-get update failed or timed out"
  timeout 1200 apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends \
    "${missing[@]}" </dev/null || die "cannot install ${missing[*]}"
fi
for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix \
            i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump x86_64-w64-mingw32-nm; do
  command -v "$tool" >/dev/null || die "$tool is missing after the install"
done
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || true)
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || true)
[ -n "$WINE64" ] && [ -x "$WINE64" ] || die "wine64 is missing after the install"
[ -n "$WINESERVER" ] && [ -x "$WINESERVER" ] || die "wineserver is missing after the install"

# ---- 32-bit DLL ----------------------------------------------------------------
phase "32-bit DLL (i686-w64-mingw32)"
build32=build/win32
cmake -S . -B "$build32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAGKIT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build32" -j "$jobs" --target tagkit
dll32="$build32/bin/libtagkit.dll"
[ -f "$dll32" ] || die "$dll32 was not built"

# What the headers declare for export must be in the export table.
exports=$(i686-w64-mingw32-objdump -p "$dll32" | awk '/^\[Ordinal\/Name Pointer\] Table/{on=1;next} on && NF==0{on=0} on{print $NF}')
[ -n "$exports" ] || die "$dll32 exports nothing"
want=$(cat system/tlx_system.h engine/*.h container/*.h tagkit/*.h 2>/dev/null \
       | grep -oP 'TLX_API\s[^;(]*?\K\btlx_\w+(?=\s*\()' | grep -v '^tlx_fault_' | sort -u || true)
absent=()
for name in $want; do
  grep -qx "$name" <<<"$exports" || absent+=("$name")
done
[ ${#absent[@]} -eq 0 ] || die "$dll32 does not export: ${absent[*]}"
echo "exports $(wc -l <<<"$exports") symbols; all $(wc -w <<<"$want") functions of the public headers present"
if grep -qs 'class TLX_API CTagkit' tagkit/*.h; then
  grep -q '7CTagkit' <<<"$exports" || die "$dll32 does not export the class CTagkit"
  echo "exports CTagkit: $(grep -c '7CTagkit' <<<"$exports") members"
fi
# Only the system's own DLLs beside it: the MinGW runtime is linked in.
imports=$(i686-w64-mingw32-objdump -p "$dll32" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(tr '\n' ' ' <<<"$imports")"
if grep -Eiq 'libstdc|libgcc|winpthread|mingw' <<<"$imports"; then
  die "$dll32 needs MinGW runtime DLLs"
fi

# Applications include <windows.h> as well: the public headers must compile
# before and after it, and no name in them may be one of its macros (such as
# DeleteFile or GetObject), which would rename it in the caller's code.
public_headers=$(ls system/tlx_export.h system/tlx_com.h system/tlx_system.h engine/tlx_id3.h \
                    container/tlx_sqa.h tagkit/tagkit.h tagkit/tagkit_picture.h \
                    tagkit/tagkit_music_id.h tagkit/tagkit_geob.h tagkit/xdate.h 2>/dev/null || true)
check="$build32/public_headers_check"
includes=(-Isystem -Iengine -Icontainer -Itagkit -isystem "$build32/staging/include")
{
  echo '#define NOMINMAX'
  echo '#include <windows.h>'
  # Names in the code of the headers (comments stripped). The result codes
  # are the platform's own on purpose.
  for h in $public_headers; do
    i686-w64-mingw32-g++-posix -x c++ -fpreprocessed -dD -E -P "$h" 2>/dev/null
  done | grep -ohE '\b[A-Za-z_][A-Za-z0-9_]*\b' | sort -u \
    | grep -vxE 'S_OK|S_FALSE|E_[A-Z]+|SUCCEEDED|FAILED|NULL|_[A-Z_].*|and|or|not|xor|bitand|bitor|compl|and_eq|or_eq|not_eq|xor_eq' \
    | while read -r id; do printf '#ifdef %s\n#error "%s is a macro of <windows.h>"\n#endif\n' "$id" "$id"; done
  for h in $public_headers; do echo "#include \"$(basename "$h")\""; done
} >"$check.after.cc"
{
  for h in $public_headers; do echo "#include \"$(basename "$h")\""; done
  echo '#include <windows.h>'
} >"$check.before.cc"
for order in after before; do
  i686-w64-mingw32-g++-posix -std=c++17 -Wall -Wextra -Werror -fsyntax-only "${includes[@]}" \
    "$check.$order.cc" || die "the public headers do not compile $order <windows.h>"
done
echo "public headers: compile before and after <windows.h>, no name taken by its macros"

# ---- 64-bit DLL and the suite --------------------------------------------------
phase "64-bit DLL and tests (x86_64-w64-mingw32)"
build64=build/win64
cmake -S . -B "$build64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAGKIT_FAULT_INJECTION=ON >/dev/null
cmake --build "$build64" -j "$jobs"
imports=$(x86_64-w64-mingw32-objdump -p "$build64/bin/libtagkit.dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
if grep -Eiq 'libstdc|libgcc|winpthread|mingw' <<<"$imports"; then
  die "the 64-bit DLL needs MinGW runtime DLLs"
fi
symbols=$(x86_64-w64-mingw32-nm -g --defined-only "$build64/bin/libtagkit.dll")
grep -q ' T tlx_open$' <<<"$symbols" || die "the 64-bit DLL lacks tlx_open"

# ---- Wine ----------------------------------------------------------------------
phase "starting Wine"
WINEPREFIX=$(mktemp -d /tmp/tagkit-wine.XXXXXX)
export WINEPREFIX
export WINEDEBUG=-all
export WINEARCH=win64
# Wine takes the ANSI code page from the locale: C.UTF-8 gives 1252.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# Headless: no display, and no offer to install Mono or Gecko.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
cleanup() {
  WINEPREFIX=$WINEPREFIX timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# A persistent server, detached from this script's output: Wine's helper
# processes inherit the output of whoever starts the server, and a pipe held
# open by them would never close.
setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
timeout 300 "$WINE64" wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 \
  || { cat "$WINEPREFIX/wineboot.log" >&2; die "wineboot failed or timed out"; }

phase "64-bit suite under Wine"
status=0
timeout 3600 ctest --test-dir "$build64" -j "$jobs" --timeout 300 --output-on-failure </dev/null \
  || status=1
phase ""
echo "== Windows check: $((SECONDS - started)) s in all"
[ $status -eq 0 ] || die "tests failed under Wine"
