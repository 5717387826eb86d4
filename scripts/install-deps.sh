#!/usr/bin/env bash
# Installs the Debian packages that building, testing, fuzzing and benchmarking need, when any
# is missing. Needs root (or sudo) only when something must be installed.
set -euo pipefail

packages=(
  cmake make g++ pkg-config     # the build
  libtiff-dev libtiff-tools     # libtiff for the outputs; tiffcp and tiffinfo for the tests
  libgtest-dev                  # the tests
  python3                       # the sample generator and the benchmark corpus
  clang libclang-rt-14-dev      # the fuzzer (libFuzzer) and its sanitizers
  mandoc parallel dpkg-dev file clang-format  # man page lint, parallel recipe, package, format
)
if [ "${1:-}" = "--all" ]; then
  packages+=(libbenchmark-dev hyperfine time imagemagick fonts-dejavu-core)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
