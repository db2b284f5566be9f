#!/bin/sh
# Makes the Debian package in the build folder given, installs it with dpkg
# into a scratch root of its own, converts the sample log with the installed
# program, and removes the package again: nothing of it may stay behind.
#   tests/package-deb.sh BUILD
set -eu
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "dpkg installs as root only: skipped"
  exit 77
fi
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/zettrik_*_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"

# The scratch root has no libc package; the package's own files are what is tested.
dpkg --root="$root" --force-depends -i "$deb" >"$root/dpkg.log" 2>&1 || { cat "$root/dpkg.log"; exit 1; }
rm "$root/dpkg.log"
dpkg --root="$root" -s zettrik | grep -q '^Status: install ok installed'
for f in usr/bin/zettrik usr/share/man/man1/zettrik.1.gz usr/share/man/de/man1/zettrik.1.gz \
         usr/share/doc/zettrik/copyright \
         usr/share/doc/zettrik/changelog.gz usr/share/doc/zettrik/README.md \
         usr/share/doc/zettrik/zettrik.html; do
  [ -f "$root/$f" ] || { echo "missing after install: $f"; exit 1; }
done
"$root/usr/bin/zettrik" "$top/examples/access.log" "$root/access.csv" >/dev/null
cmp "$top/examples/access.csv" "$root/access.csv"
# The manuals have their content, not only their names.
zcat "$root/usr/share/man/man1/zettrik.1.gz" | cmp - "$top/man/zettrik.1"
zcat "$root/usr/share/man/de/man1/zettrik.1.gz" | cmp - "$top/man/zettrik.de.1"
sh "$top/tests/manual.sh" "$root/usr/share/doc/zettrik/zettrik.html"
rm "$root/access.csv"
# What the package says of itself: the targets and the formats, and the
# licence's holder as LICENSE names it.
description=$(dpkg-deb -f "$deb" Description)
for word in workbook SQLite compressed; do
  echo "$description" | grep -q "$word" || { echo "the Description names no $word"; exit 1; }
done
holder=$(sed -n 's/^Copyright (c) [0-9]* //p' "$top/LICENSE")
grep -q "^Copyright: [0-9]* $holder\$" "$root/usr/share/doc/zettrik/copyright" ||
  { echo "debian/copyright names another holder than LICENSE ($holder)"; exit 1; }

file "$root/usr/bin/zettrik" | grep -q ', stripped$' || { file "$root/usr/bin/zettrik"; exit 1; }

# lintian, where it is installed: no error and no warning, and with its
# informational tags no word on hardening (Debian's build flags).
if command -v lintian >/dev/null; then
  tags=$(lintian -I --pedantic "$deb" 2>/dev/null | grep -E '^[EW]: |hardening' || true)
  [ -z "$tags" ] || { echo "lintian: $tags"; exit 1; }
  echo "lintian: no errors, no warnings, no hardening tags"
fi

dpkg --root="$root" -r zettrik >/dev/null
left=$(find "$root" -path "$root/var" -prune -o -type f -print)
[ -z "$left" ] || { echo "left after removal: $left"; exit 1; }
echo "package: $(basename "$deb") installs, converts the sample and removes cleanly"
