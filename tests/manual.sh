#!/bin/sh
# Checks that the HTML manual given has its content: the import steps, and
# the examples and messages as a user copies them from a browser, ASCII
# quotes and all (a typographic quote in a copied pattern matches nothing).
#   tests/manual.sh zettrik.html
set -eu
python3 - "$1" <<'PY'
import html, re, sys
page = open(sys.argv[1], encoding="utf-8").read()
text = " ".join(html.unescape(re.sub(r"<[^>]*>", "", page)).split())
for example in (
        "zettrik access.log access.csv | grep -q '^FEHLER:' && echo fehlgeschlagen",
        'soffice --headless --infilter="CSV:59,34,76,1,1/2,1031,false,false,false,false,false,0,false"',
        "DROP TABLE IF EXISTS zugriffe;",
        "Gebietsschema",
        "Konvertiere Logfile 'quelle.log' nach CSV-Datei 'ziel.csv':",
        "FEHLER:\\tAufruf mit Parametern 'Quelldatei' (Logfile) und 'Zieldatei' (CSV-Datei)",
        "FEHLER:\\tKann Quelldatei '...' (Logfile) nicht lesen!",
        "FEHLER:\\tKann Zieldatei '...' (CSV-Datei) nicht schreiben!",
        "FEHLER:\\tZieldatei '...' (CSV-Datei) ist die Quelldatei '...' (Logfile)!",
        "FEHLER:\\tZieldatei '...' (CSV-Datei) ist die Standardausgabe!",
        "SELECT strftime('%H', zeit) AS utc, count(*) FROM zugriffe GROUP BY utc;",
        "SELECT substr(zeit, 1, 10) AS tag, count(*) FROM zugriffe GROUP BY tag;",
        "SELECT sum(bytes) FROM zugriffe WHERE typeof(bytes) = 'integer';"):
    if example not in text:
        sys.exit("%s: missing from the manual, or not as the program writes it: %s" % (sys.argv[1], example))
if re.search("[\u2018\u2019]", text):
    sys.exit("%s: a typographic quote: %s" % (sys.argv[1], re.search(".{30}[\u2018\u2019].{30}", text).group()))
PY
