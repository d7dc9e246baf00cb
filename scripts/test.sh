#!/usr/bin/env bash
# Installs what is missing, builds a release (with its API reference) and a
# sanitizer build, and runs the whole test suite in both.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/deps.sh
install_deps

jobs=$(nproc)
build() {  # build DIR CMAKE-ARGS...
  local dir=$1; shift
  cmake -S . -B "$dir" -DTAGKIT_FAULT_INJECTION=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build build/release -DCMAKE_BUILD_TYPE=Release
# The API reference: an undocumented public operation fails the build.
cmake --build build/release --target doc
build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAGKIT_SANITIZE=ON

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for dir in build/release build/asan; do
  echo "== tests in $dir"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure || status=1
done
exit $status
