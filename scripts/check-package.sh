#!/usr/bin/env bash
# Installs vandrel into a temporary root, lints the man page, builds the Debian package, unpacks
# it with dpkg -x and converts the bundled samples with the unpacked program.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DVANDREL_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-pkg -j"$(nproc)" >/dev/null

DESTDIR="$work/install" cmake --install build-pkg >/dev/null
test -x "$work/install/usr/bin/vandrel"
test -f "$work/install/usr/share/man/man1/vandrel.1"
mandoc -T lint -W warning man/vandrel.1
groff -ww -z -mandoc man/vandrel.1
echo "install and man page: ok"

(cd build-pkg && cpack -G DEB >/dev/null 2>&1)
package=$(ls build-pkg/vandrel_*.deb)
dpkg-deb --field "$package" Depends | grep -q libtiff || { echo "no libtiff dependency in $package"; exit 1; }
dpkg -x "$package" "$work/unpacked"
cp examples/*.tif examples/*.txt "$work/"
cd "$work"
for args in "samples16.txt 0 65535" "samples12.txt 0 4095" "samples8.txt 0 255" "samples4.txt 0 15 1"; do
  # shellcheck disable=SC2086
  "$work/unpacked/usr/bin/vandrel" $args > /dev/null
done
for name in $(cat samples*.txt); do
  tiffinfo "o-$name" > /dev/null 2>&1 || { echo "o-$name is not a readable TIFF"; exit 1; }
done
echo "package $(basename "$package"): unpacked program converted $(cat samples*.txt | wc -w) samples"
cd "$root"
