#!/usr/bin/env bash
# Checks the parallel recipe on the bundled samples: every output of a chunked run equals the
# output of one plain run, and a faulty source stops only its own chunk.
#   scripts/test-parallel.sh VANDREL
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vandrel=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/chunked" "$work/plain"
for i in $(seq -w 1 24); do
  for dir in chunked plain; do cp "$root/examples/phantom12-lzw.tif" "$work/$dir/scan$i.tif"; done
done
(cd "$work/plain" && ls scan*.tif > all.txt && "$vandrel" all.txt 0 4095 > /dev/null)
cd "$work/chunked"
ls scan*.tif > all.txt
VANDREL=$vandrel JOBLOG=jobs.log "$root/scripts/convert-parallel.sh" all.txt 5 0 4095 > progress.txt
[ "$(wc -l < progress.txt)" -eq 24 ] || { echo "expected 24 progress lines"; exit 1; }
for f in scan*.tif; do
  cmp -s "o-$f" "../plain/o-$f" || { echo "o-$f differs from a plain run"; exit 1; }
done
# A faulty 8th name: its chunk (names 6 to 10) stops there, the other chunks convert.
rm -f o-*.tif
printf 'not a tiff' > scan08.tif
status=0
VANDREL=$vandrel JOBLOG=jobs.log "$root/scripts/convert-parallel.sh" all.txt 5 0 4095 > progress.txt 2> errors.txt ||
  status=$?
[ "$status" -eq 1 ] || { echo "expected status 1 (one chunk failed), got $status"; exit 1; }
grep -qx "scan08.tif : bad magic number." errors.txt || { echo "missing fault line"; exit 1; }
for i in 01 05 06 07 11 24; do [ -f "o-scan$i.tif" ] || { echo "o-scan$i.tif missing"; exit 1; }; done
for i in 08 09 10; do [ ! -e "o-scan$i.tif" ] || { echo "o-scan$i.tif should not exist"; exit 1; }; done
ls -d vandrel-chunks.* > /dev/null || { echo "the failed chunk lists should stay"; exit 1; }
sed -i '/^scan08.tif$/d' vandrel-chunks.*/list.000001
parallel --will-cite --retry-failed --joblog jobs.log > /dev/null || { echo "retry failed"; exit 1; }
for i in 09 10; do [ -f "o-scan$i.tif" ] || { echo "o-scan$i.tif missing after the retry"; exit 1; }; done
echo "parallel recipe: 3 runs checked"
