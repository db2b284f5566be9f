#!/usr/bin/env python3
"""Writes a synthetic access log in the combined format, the same for the
same arguments: the shipped sample and the benchmark's large logs.

    genlog.py [--lines N | --bytes N] [--bad PERCENT] [--seed S] > access.log

About PERCENT of the lines are malformed, of the kinds that a converter must
reject: the common format without referrer and agent, an escaped quote in the
request, two spaces between fields, a tab for a space, an empty line, a line
cut short, a stray bracket. The good lines hold what trips up spreadsheets:
addresses whose last three groups have three digits (read as one number with
thousands separators where the dot is one), client-sent fields that begin
with "=" (read as formulas), user agents with semicolons, text beyond ASCII
in UTF-8, a byte of Windows-1252 that is no UTF-8, control bytes, and a
literal _x0041_, which a workbook would read back as the letter A.
Everything here is
made up: the addresses are from the documentation ranges or random, the hosts
and agents invented.
"""
import argparse
import random
import sys

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
PATHS = ["/", "/index.html", "/news/2026/12/", "/img/logo.png", "/css/site.css",
         "/js/app.js", "/api/v1/items?page=2&size=50", "/search?q=zettel+kasten",
         "/downloads/report%202026.pdf", "/favicon.ico", "/robots.txt",
         "/blog/a-long-article-about-logs-and-their-many-fields.html", "/wiki/_x0041_"]
METHODS = ["GET"] * 8 + ["POST", "HEAD", "PUT", "DELETE"]
STATUS = [200] * 12 + [204, 301, 302, 304, 304, 400, 403, 404, 404, 500, 503]
REFERRERS = ["-", "-", "https://www.example.org/", "https://example.net/start?x=1",
             "http://intranet.example.com/wiki/Main Page", "=1+1"]
AGENTS = ["Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0",
          "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)",
          "Mozilla/4.0 [en] (WinNT; I)",
          "curl/8.5.0", "Wget/1.21.4", "ExampleBot/2.1 (+https://example.com/bot)",
          "-", "Mozilla/5.0 (compatible; B\u00fccherbot/1.0; +https://b\u00fccher.example/)",
          # Raw bytes, as a server may log them: one of Windows-1252 (0xF6,
          # an o with umlaut there) and the control bytes of a terminal
          # sequence.
          "Mozilla/4.0 (K\udcf6ln-Client; Windows NT 5.1)", "Scanner/0.1 \x1b[2J\x07"]
USERS = ["-"] * 10 + ["anna", "bernd", "svc-backup", "=2+3", "j\u00fcrgen"]


def address(rng):
    if rng.random() < 0.1:
        return "2001:db8::%x" % rng.randrange(1, 0xffff)
    if rng.random() < 0.25:  # such as 16.105.254.175
        return "%d.%d.%d.%d" % (rng.randrange(1, 224), rng.randrange(100, 256),
                                rng.randrange(100, 256), rng.randrange(100, 256))
    return "%s.%d" % (rng.choice(["192.0.2", "198.51.100", "203.0.113"]), rng.randrange(1, 255))


def good(rng, t):
    stamp = "%02d/%s/2026:%02d:%02d:%02d +0100" % (
        1 + t // 86400 % 28, MONTHS[t // 2419200 % 12], t // 3600 % 24, t // 60 % 60, t % 60)
    size = "-" if rng.random() < 0.05 else str(rng.randrange(0, 250000))
    return '%s - %s [%s] "%s %s HTTP/1.1" %d %s "%s" "%s"' % (
        address(rng), rng.choice(USERS), stamp, rng.choice(METHODS), rng.choice(PATHS),
        rng.choice(STATUS), size, rng.choice(REFERRERS), rng.choice(AGENTS))


def bad(rng, line):
    kind = rng.randrange(7)
    if kind == 0:  # common log format: no referrer, no agent
        return line[:line.rindex(' "', 0, line.rindex(' "'))]
    if kind == 1:  # an escaped quote in the request
        return line.replace("HTTP/1.1", 'x=\\"y\\" HTTP/1.1', 1)
    if kind == 2:  # two spaces between two fields
        return line.replace(" - ", " -  ", 1)
    if kind == 3:  # a tab for a space
        return line.replace(" ", "\t", 1)
    if kind == 4:
        return ""
    if kind == 5:  # cut short
        return line[:rng.randrange(1, len(line) // 2)]
    return line.replace("] ", "] [x] ", 1)  # a bracket outside quotes


def main():
    ap = argparse.ArgumentParser(
        description="Writes a synthetic access log in the combined format to standard output, "
        "the same log for the same arguments: the shipped sample and the benchmark's large logs.")
    ap.add_argument("--lines", type=int, metavar="N", help="write N lines (this or --bytes)")
    ap.add_argument("--bytes", type=int, metavar="N", help="write lines until N bytes or more are written")
    ap.add_argument("--bad", type=float, default=2.0, metavar="PERCENT", help="percent of malformed lines (2)")
    ap.add_argument("--seed", type=int, default=1, metavar="S",
                    help="the seed of the random choices (1); another gives another log")
    a = ap.parse_args()
    if (a.lines is None) == (a.bytes is None):
        ap.error("give either --lines or --bytes")
    rng = random.Random(a.seed)
    out = sys.stdout.buffer
    chunk, written, n, t = [], 0, 0, 0
    while (a.lines is None or n < a.lines) and (a.bytes is None or written < a.bytes):
        t += rng.randrange(0, 3)
        line = good(rng, t)
        if rng.random() * 100 < a.bad:
            line = bad(rng, line)
        line += "\n"
        chunk.append(line)
        written += len(line)
        n += 1
        if len(chunk) == 10000:
            out.write("".join(chunk).encode("utf-8", "surrogateescape"))
            chunk = []
    out.write("".join(chunk).encode("utf-8", "surrogateescape"))


if __name__ == "__main__":
    main()
