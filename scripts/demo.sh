#!/usr/bin/env bash
# The README demo: installs what is missing, builds the tagkit program,
# makes a sample MP3 and shows its tags, changes title, date and picture,
# and shows them again.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/deps.sh
install_deps

build=build/demo
echo "== building tagkit in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAGKIT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target tagkit_cli >/dev/null

work="$build/sample"
mkdir -p "$work"
python3 scripts/make-sample.py "$work/sample.mp3"
python3 scripts/make-sample.py --png --color 40,110,200 "$work/new-cover.png"

cd "$work"
export PATH="$PWD/../tools:$PATH"
run() {  # prints the command as typed, then runs it
  local shown=""
  for arg in "$@"; do
    if [[ $arg =~ [[:space:]] ]]; then shown+=" \"$arg\""; else shown+=" $arg"; fi
  done
  printf '\n$%s\n' "$shown"
  "$@"
}
run tagkit show sample.mp3
run tagkit set --title "Evening Light" --date 2024-10-31 --picture new-cover.png sample.mp3
run tagkit show sample.mp3
