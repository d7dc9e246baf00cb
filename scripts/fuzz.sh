#!/usr/bin/env bash
# Real fuzzing with libFuzzer: scripts/fuzz.sh SECONDS [TARGET...]
#
# Builds the fuzz targets with clang (every layer instrumented with
# AddressSanitizer, UndefinedBehaviorSanitizer and coverage) in build/fuzz,
# and runs each target (default: all four, one after the other) for SECONDS.
# Seeds are the shared corpus, tests/data and the files that
# tagkit_fuzz_seeds makes; the growing working corpus stays in
# build/fuzz/corpus/TARGET. A crash is minimised into tests/data/, where the
# replay test picks it up; the script then exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(class_read class_write engine_read container)

if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' clang 2>/dev/null | grep -q "install ok installed"; then
  echo "installing: clang"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang
fi

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DTAGKIT_BUILD_FUZZ=ON -DTAGKIT_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target fuzz

mkdir -p tests/data
# Seeds are gathered afresh for every target, so that two runs of this
# script (on different targets) can share the build.
gather_seeds() {  # gather_seeds DIR
  rm -rf "$1"
  mkdir -p "$1"
  if [ -d ../shared/corpus ]; then
    find ../shared/corpus -type f ! -name 'README*' | while read -r f; do
      cp "$f" "$1/corpus-$(basename "$(dirname "$f")")-$(basename "$f")"
    done
  fi
  find tests/data -maxdepth 1 -type f -exec cp {} "$1/" \;
  "$build/fuzz/tagkit_fuzz_seeds" "$1"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  binary=$build/fuzz/${target}_fuzz
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  seeds=$build/seeds/$target
  gather_seeds "$seeds"
  mkdir -p "$corpus" "$artifacts"
  log=$build/$target.log
  echo "== $target for ${seconds}s (log: $log)"
  # A single allocation above 64 MB is a finding: no input here is larger
  # than 64 KB, and memory must stay bounded by the file's size.
  if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 \
       -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/" \
       "$corpus" "$seeds" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
    echo "corpus: $(find "$corpus" -type f | wc -l) files, $(du -sk "$corpus" | cut -f1) KB"
    continue
  fi
  status=1
  tail -n 40 "$log"
  for crash in "$artifacts"/*; do
    [ -f "$crash" ] || continue
    name=tests/data/$target-$(sha1sum "$crash" | cut -c1-12)
    "$binary" -minimize_crash=1 -max_total_time=60 -timeout=10 -malloc_limit_mb=64 \
      -exact_artifact_path="$name" "$crash" >>"$log" 2>&1 || true
    [ -f "$name" ] || cp "$crash" "$name"
    echo "regression file: $name"
    rm -f "$crash"
  done
done
exit $status
