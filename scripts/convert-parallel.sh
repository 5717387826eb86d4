#!/usr/bin/env bash
# Converts one long list on every core: the list (one name per line) is cut into chunks of
# CHUNK names with split, each chunk becomes a list file of its own, and GNU parallel runs one
# vandrel per chunk, as many at a time as there are cores.
#   scripts/convert-parallel.sh LIST CHUNK low high [invert]
# The exit status is 0 when every chunk converted completely, else the number of chunks that
# did not (a chunk stops at its first faulty source); the job log (JOBLOG, default
# vandrel-jobs.log) names them, and the chunk lists stay in vandrel-chunks.XXXXXX/ so that
# `parallel --retry-failed --joblog vandrel-jobs.log` can run them again. VANDREL names the
# program (default: vandrel on the PATH).
set -euo pipefail
list=$1 chunk=$2
shift 2
vandrel=${VANDREL:-vandrel}
chunks=$(mktemp -d "vandrel-chunks.XXXXXX")
split -l "$chunk" -d -a 6 "$list" "$chunks/list."
status=0
parallel --will-cite --joblog "${JOBLOG:-vandrel-jobs.log}" "$vandrel" {} "$@" ::: "$chunks"/list.* || status=$?
[ "$status" -ne 0 ] || rm -rf "$chunks"
exit "$status"
