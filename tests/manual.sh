#!/bin/sh
# Checks that the HTML manual given has its content: the import steps, and
# the examples as a user copies them from a browser, ASCII quotes and all.
#   tests/manual.sh zettrik.html
set -eu
python3 - "$1" <<'PY'
import html, re, sys
page = open(sys.argv[1], encoding="utf-8").read()
shown = html.unescape(re.sub(r"<br>", "\n", page))
for example in (
        "zettrik access.log access.csv | grep -q '^FEHLER:' && echo fehlgeschlagen",
        'soffice --headless --infilter="CSV:59,34,76,1,1/2,1031,false,false,false,false,false,0,false"',
        "DROP TABLE IF EXISTS zugriffe;",
        "Gebietsschema"):
    if example not in shown:
        sys.exit("%s: missing from the manual: %s" % (sys.argv[1], example))
PY
