#!/bin/sh
# Builds the program twice, in two folders, with the same SOURCE_DATE_EPOCH,
# and compares the two programs and the two Debian packages byte for byte.
#   tests/reproducible.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null || echo 1765152000)
export SOURCE_DATE_EPOCH
for b in one two; do
  cmake -S "$top" -B "$scratch/$b" -DCMAKE_BUILD_TYPE=Release -DZETTRIK_TESTS=OFF >/dev/null
  cmake --build "$scratch/$b" --target zettrik >/dev/null
  (cd "$scratch/$b" && cpack -G DEB >/dev/null 2>&1)
done
cmp "$scratch/one/zettrik" "$scratch/two/zettrik"
cmp "$scratch/one"/zettrik_*.deb "$scratch/two"/zettrik_*.deb
echo "reproducible: two builds give the same program and the same package"
