#!/bin/sh
# Makes the zip package in the Windows build folder given, unpacks it, and
# converts the sample log with the zettrik.exe it holds, under the emulator
# given after the folder; the German manual must be in it as HTML.
#   tests/package-zip.sh BUILD EMULATOR...
set -eu
build=$(cd "$1" && pwd)
shift
top=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target archive >/dev/null
zip=$(ls "$build"/zettrik-*-windows-x86_64.zip)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
(cd "$dir" && unzip -q "$zip")
folder="$dir/$(basename "$zip" .zip)"
for f in zettrik.exe README.md LICENSE zettrik.html LICENSES/zstd LICENSES/bzip2 LICENSES/xz LICENSES/sqlite \
         LICENSES/zlib; do
  [ -f "$folder/$f" ] || { echo "missing from the zip: $f"; exit 1; }
done
file "$folder/zettrik.exe" | grep -q 'stripped' || { file "$folder/zettrik.exe"; exit 1; }
cp "$top/examples/access.log" "$dir/access.log"
(cd "$dir" && "$@" "$folder/zettrik.exe" access.log access.csv >/dev/null)
sed 's/$/\r/' "$top/examples/access.csv" | cmp - "$dir/access.csv"
(cd "$dir" && "$@" "$folder/zettrik.exe" access.log access.db >/dev/null)
rows=$(python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT count(*) FROM zugriffe").fetchone()[0])' "$dir/access.db")
[ "$rows" = "$(wc -l <"$top/examples/access.csv")" ] || { echo "the Windows database has $rows rows"; exit 1; }
sh "$top/tests/manual.sh" "$folder/zettrik.html"
echo "package: $(basename "$zip") holds a zettrik.exe that converts the sample"
