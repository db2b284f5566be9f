#!/bin/sh
# Makes the tarball of the static Linux program in the build folder given,
# unpacks it, and checks it as a user of any Linux would get it: a program
# that needs no library, converts the sample (as it is and from gzip), and
# comes with its manuals, README, licence and the notices of what it links
# in. Then two builds of the same sources make the same tarball, with
# SOURCE_DATE_EPOCH not set: the build takes the last commit's time.
#   tests/package-tar.sh BUILD
set -eu
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
unset SOURCE_DATE_EPOCH
cmake --build "$build" --target archive >/dev/null
tar=$(ls "$build"/zettrik-*-linux-x86_64.tar.gz)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
tar -C "$dir" -xzf "$tar"
folder="$dir/$(basename "$tar" .tar.gz)"
for f in zettrik zettrik.1 zettrik.de.1 zettrik.html README.md LICENSE LICENSES/isa-l LICENSES/zstd LICENSES/sqlite \
         LICENSES/glibc; do
  [ -f "$folder/$f" ] || { echo "missing from the tarball: $f"; exit 1; }
done
file "$folder/zettrik" | grep -q 'statically linked.*, stripped$' || { file "$folder/zettrik"; exit 1; }
"$folder/zettrik" "$top/examples/access.log" "$dir/access.csv" >/dev/null
cmp "$top/examples/access.csv" "$dir/access.csv"
gzip -c "$top/examples/access.log" >"$dir/access.log.gz"
"$folder/zettrik" "$dir/access.log.gz" "$dir/gz.csv" >/dev/null
cmp "$top/examples/access.csv" "$dir/gz.csv"
# SQLite is linked in too: the sample's accepted lines, one row each.
"$folder/zettrik" "$top/examples/access.log" "$dir/access.db" >/dev/null
rows=$(python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT count(*) FROM zugriffe").fetchone()[0])' "$dir/access.db")
[ "$rows" = "$(wc -l <"$top/examples/access.csv")" ] || { echo "the static database has $rows rows"; exit 1; }
# The README's lines, as a user types them, beside the tarball and a log.
mkdir "$dir/user"
cp "$tar" "$top/examples/access.log" "$dir/user/"
sed -n '/^    tar -xzf zettrik-/,/^    man /p' "$top/README.md" | sed 's/^    //; /^man /d' >"$dir/user/steps.sh"
[ "$(wc -l <"$dir/user/steps.sh")" = 2 ] || { cat "$dir/user/steps.sh"; exit 1; }
(cd "$dir/user" && sh -e steps.sh >/dev/null)
cmp "$top/examples/access.csv" "$dir/user/access.csv"
sh "$top/tests/manual.sh" "$folder/zettrik.html"
cmp "$top/man/zettrik.1" "$folder/zettrik.1"
cmp "$top/man/zettrik.de.1" "$folder/zettrik.de.1"

# Reproducible: two builds of the same sources, with the same
# SOURCE_DATE_EPOCH, give the same tarball.
for b in one two; do
  cmake -S "$top" -B "$dir/$b" -DCMAKE_BUILD_TYPE=Release -DZETTRIK_STATIC=ON \
    -DZETTRIK_HARDENING=ON -DZETTRIK_TESTS=OFF >/dev/null
  cmake --build "$dir/$b" --target archive >/dev/null
done
cmp "$dir/one/$(basename "$tar")" "$dir/two/$(basename "$tar")"
echo "package: $(basename "$tar") holds a static zettrik that converts the sample, and is reproducible"
