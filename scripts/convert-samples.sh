#!/usr/bin/env bash
# Builds vandrel and converts the bundled samples, one list per bit depth, each through a
# window that fills the output range. The outputs land beside the samples as o-*.tif.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVANDREL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
cd examples
../build/vandrel samples16.txt 0 65535
../build/vandrel samples12.txt 0 4095
../build/vandrel samples8.txt 0 255
../build/vandrel samples4.txt 0 15 1   # WhiteIsZero: invert to keep dark dark
