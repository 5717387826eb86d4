#!/usr/bin/env bash
# Builds vandrel, the baseline converter and the corpus tools, makes the benchmark corpus once
# (in build-bench/corpus, about 700 MiB) and times both converters side by side.
#   bench/run.sh [ROUNDS] [--replace]
# --replace times runs that replace the outputs of the round before (see bench/runner.py).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
shift $(($# > 0 ? 1 : 0))
scripts/install-deps.sh --all
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVANDREL_TESTS=OFF -DVANDREL_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
corpus=build-bench/corpus
make_set() {  # NAME COUNT SIZE TIFFCP-OPTIONS...
  local name=$1 count=$2 size=$3
  shift 3
  [ -f "$corpus/$name/list.txt" ] && return
  mkdir -p "$corpus/$name"
  local list=""
  for i in $(seq 1 "$count"); do
    local file="${size}x${size}-$i.tif"
    if [ "$#" -eq 0 ]; then
      build-bench/bench/make_source "$corpus/$name/$file" "$size" "$size" "$i"
    else
      build-bench/bench/make_source "$corpus/$name/plain.tif" "$size" "$size" "$i"
      tiffcp "$@" "$corpus/$name/plain.tif" "$corpus/$name/$file"
      rm "$corpus/$name/plain.tif"
    fi
    list="$list$file\n"
  done
  printf "$list" > "$corpus/$name/list.txt"
}
for size_count in "2048 4" "8192 1"; do
  set -- $size_count
  make_set "$1-none" "$2" "$1"
  make_set "$1-lzw" "$2" "$1" -c lzw
  make_set "$1-lzw-predictor" "$2" "$1" -c lzw:2
  make_set "$1-packbits" "$2" "$1" -c packbits
done
python3 bench/runner.py "$@" build-bench/vandrel build-bench/bench/baseline "$corpus" "$rounds"
