#!/bin/sh
# Builds the program twice, in two folders, and compares the two programs
# and the two Debian packages byte for byte: once with SOURCE_DATE_EPOCH
# set, and once without, as a user runs scripts/package, when the build
# takes the last commit's time.
#   tests/reproducible.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset SOURCE_DATE_EPOCH
for b in one two three; do
  # The third with a time of its own, which must be the one it takes.
  [ $b = three ] && export SOURCE_DATE_EPOCH=1765152000
  cmake -S "$top" -B "$scratch/$b" -DCMAKE_BUILD_TYPE=Release -DZETTRIK_HARDENING=ON \
    -DZETTRIK_TESTS=OFF >/dev/null
  cmake --build "$scratch/$b" --target zettrik >/dev/null
  (cd "$scratch/$b" && cpack -G DEB >/dev/null 2>&1)
done
cmp "$scratch/one/zettrik" "$scratch/two/zettrik"
cmp "$scratch/one"/zettrik_*.deb "$scratch/two"/zettrik_*.deb
# Only the time differs between them: the banner's date.
strings "$scratch/three/zettrik" | grep -q '^Dec  8 2025$' ||
  { echo "the build did not take SOURCE_DATE_EPOCH"; exit 1; }
echo "reproducible: two builds give the same program and the same package"
