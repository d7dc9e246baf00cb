#!/usr/bin/env bash
# The README demo: installs what is missing, builds the tagkit program,
# makes a sample MP3 and shows its tags, changes title, date and picture,
# shows them again and lists every frame; then makes a small library of
# copies and runs show and set over it.
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
run tagkit show --all sample.mp3

rm -rf library
mkdir -p "library/The Sample Quartet/Café Sessions" "library/The Sample Quartet/Live"
for n in 1 2 3; do cp sample.mp3 "library/The Sample Quartet/Café Sessions/0$n.mp3"; done
cp sample.mp3 "library/The Sample Quartet/Live/01 (no extension)"
cp new-cover.png "library/The Sample Quartet/Live/cover.mp3"  # not MP3 content
run tagkit set -r --album "Sessions, Remastered" library
printf '\n$ tagkit show -r --json library > library.jsonl\n'
tagkit show -r --json library > library.jsonl
