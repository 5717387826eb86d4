#!/usr/bin/env bash
# Builds the fuzz target and fuzzes the reader and the strip sources.
#   fuzz/run.sh SECONDS [WORKERS]
# Starts from the seeds (made anew) and the regression corpus, keeps what it learns in
# build-fuzz/corpus, and writes any finding to build-fuzz/findings/. Exits non-zero on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
workers=${2:-1}
scripts/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVANDREL_FUZZ=ON -DVANDREL_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzz_reader -j"$(nproc)" >/dev/null
rm -rf build-fuzz/seeds
python3 fuzz/make_seeds.py build-fuzz/seeds
mkdir -p build-fuzz/corpus build-fuzz/findings
# Huge claims are only probed by the target, so the malloc limit is the RSS limit's business.
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1048576
         -max_len=65536 -print_final_stats=1 -artifact_prefix=build-fuzz/findings/)
if [ "$workers" -gt 1 ]; then options+=(-fork="$workers"); fi
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
  build-fuzz/fuzz_reader "${options[@]}" build-fuzz/corpus build-fuzz/seeds fuzz/corpus
