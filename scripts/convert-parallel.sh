#!/usr/bin/env bash
# Converts one long list on every core: the list (one name per line) is cut into chunks of
# CHUNK names, each chunk becomes a list file of its own, and one vandrel runs per chunk.
#   scripts/convert-parallel.sh LIST CHUNK low high [invert]
# The exit status is 0 when every chunk converted completely, else the number of chunks that
# did not (a chunk stops at its first faulty source); the job log names them.
set -uo pipefail
list=$1 chunk=$2
shift 2
vandrel=${VANDREL:-vandrel}
exec parallel --pipe --cat -N "$chunk" --joblog "${JOBLOG:-vandrel-jobs.log}" \
  "$vandrel" {} "$@" < "$list"
