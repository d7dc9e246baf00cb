#!/usr/bin/env bash
# Builds the benchmarks (release, no fault seam), writes their corpus, runs
# them for ROUNDS rounds (default 11) and prints one table of medians and of
# the ratios that matter; then the library scan of bench/library_bench.py
# (`tagkit show -r --json` against a TagLib program, LIBRARY_ROUNDS rounds,
# default 5), which first checks the program's output over a 2,000-file tree.
#
#   bash scripts/bench.sh            # corpus in ${TMPDIR:-/tmp}/tagkit-bench-corpus
#   ROUNDS=5 TAGKIT_BENCH_CORPUS=/music/tmp bash scripts/bench.sh
#
# A commit writes its new file beside the old one; the commit benchmark runs a
# second time with the temporary directory on another file system when
# TAGKIT_BENCH_FOREIGN_TMPDIR names one (default /dev/shm when that is a
# different file system from the corpus), which must not matter. `tagkit set`
# is timed as a whole program run.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/deps.sh
install_deps

rounds=${ROUNDS:-11}
corpus=${TAGKIT_BENCH_CORPUS:-${TMPDIR:-/tmp}/tagkit-bench-corpus}
build=build/bench

# The baselines: TagLib, and GNU time for the library scan's peak memory.
for p in libtag1-dev time; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null ||
      echo "$p could not be installed: its part is left out"
  fi
done
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAGKIT_BUILD_TESTS=OFF \
  -DTAGKIT_BUILD_BENCH=ON >/dev/null
targets=(read_bench commit_bench tagkit_cli)
if pkg-config --exists taglib 2>/dev/null; then targets+=(taglib_show); fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null
export TAGKIT_BENCH_PROGRAM=$PWD/$build/tools/tagkit

if [ ! -f "$corpus/commit-40.mp3" ] || [ ! -f "$corpus/read24-31.mp3" ]; then
  echo "writing the corpus into $corpus"
  python3 scripts/make-bench-corpus.py "$corpus"
fi
export TAGKIT_BENCH_CORPUS=$corpus
if [ -z "${TAGKIT_BENCH_FOREIGN_TMPDIR:-}" ] && [ -d /dev/shm ] &&
   [ "$(stat -c %d /dev/shm)" != "$(stat -c %d "$corpus")" ]; then
  export TAGKIT_BENCH_FOREIGN_TMPDIR=/dev/shm
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The temporary folder on the corpus's file system; the second commit run moves it.
export TMPDIR=$corpus
echo "load before: $(uptime)"
common=(--benchmark_repetitions="$rounds" --benchmark_report_aggregates_only=true
        --benchmark_format=json)
"$build/bench/read_bench" "${common[@]}" >"$out/read.json"
"$build/bench/commit_bench" "${common[@]}" --benchmark_filter='BM_Commit_' >"$out/commit.json"
echo "load after:  $(uptime)"

python3 - "$out/read.json" "$out/commit.json" <<'EOF'
import json
import sys

medians = {}
counters = {}
for path in sys.argv[1:]:
    with open(path) as f:
        data = json.load(f)
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].replace("/real_time", "")
        if b.get("error_occurred"):
            continue
        medians[name] = (b["real_time"], b["time_unit"])
        if "peak_above_idle_KiB" in b:
            counters[name] = b["peak_above_idle_KiB"]

print()
print("%-46s %12s" % ("benchmark (median)", "time"))
for name, (value, unit) in medians.items():
    extra = ""
    if name in counters:
        extra = "   peak above idle open: %d KiB" % counters[name]
    print("%-46s %9.1f %s%s" % (name, value, unit, extra))


def ratio(label, a, b, target=None):
    if a not in medians or b not in medians:
        print("%-46s %12s" % (label, "n/a"))
        return
    r = medians[a][0] / medians[b][0]
    verdict = ""
    if target is not None:
        verdict = "  (target <= %g: %s)" % (target, "met" if r <= target else "MISSED")
    print("%-46s %11.2fx%s" % (label, r, verdict))


print()
print("ratios")
ratio("read: tagkit / TagLib", "BM_ReadAll_Tagkit", "BM_ReadAll_TagLib", 0.5)
ratio("read: tagkit / tag floor", "BM_ReadAll_Tagkit", "BM_ReadAll_TagFloor", 2.0)
ratio("read ID3v2.4: tagkit / TagLib", "BM_ReadAll_Tagkit24", "BM_ReadAll_TagLib24", 0.5)
ratio("read ID3v2.4: tagkit / tag floor", "BM_ReadAll_Tagkit24", "BM_ReadAll_TagFloor24", 2.0)
ratio("read: tagkit ID3v2.4 / ID3v2.3", "BM_ReadAll_Tagkit24", "BM_ReadAll_Tagkit", 1.1)
for n in ("4", "40"):
    ratio("commit %s MB: tagkit / copy-and-rename" % n, "BM_Commit_Tagkit/%s" % n,
          "BM_Commit_CopyAndRename/%s" % n, 1.2)
    ratio("commit %s MB, TMPDIR elsewhere / copy-and-rename" % n,
          "BM_Commit_TagkitForeignTmp/%s" % n,
          "BM_Commit_CopyAndRename/%s" % n, 1.2)
    ratio("tagkit set %s MB / copy-and-rename" % n, "BM_Commit_SetProgram/%s" % n,
          "BM_Commit_CopyAndRename/%s" % n, 1.25 if n == "40" else None)
EOF

echo
echo "== library scan"
echo "load before: $(uptime)"
python3 bench/library_bench.py "$build" "$corpus" "$out/library" "${LIBRARY_ROUNDS:-5}"
echo "load after:  $(uptime)"
