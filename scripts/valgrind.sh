#!/usr/bin/env bash
# Runs the whole test suite under valgrind's memcheck: a plain debug build in
# build/valgrind (no sanitizers, which do not mix with valgrind), every test
# executable started through valgrind. Any memory error or leak fails the
# test that caused it. Extra arguments go to ctest (for example -R id3_).

# CMake starts each test through this script with --memcheck first (the
# build's test launcher); the listing of a test executable's tests runs
# without valgrind, which would only make it slow.
if [ "${1:-}" = "--memcheck" ]; then
  shift
  for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && exec "$@"
  done
  exec valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    --suppressions="$(dirname "$0")/valgrind.supp" --quiet "$@"
fi

set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/deps.sh
install_deps
if ! command -v valgrind >/dev/null; then
  echo "installing: valgrind"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind
fi

build=build/valgrind
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTAGKIT_FAULT_INJECTION=ON \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$PWD/scripts/valgrind.sh;--memcheck" >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --timeout 1500 "$@"
