#!/usr/bin/env python3
"""The CSV and the workbook in the programs users open them with:
LibreOffice Calc, headless, Gnumeric and xlsx2csv, and SQLite, the CSV driven by exactly the
instructions that README.md gives (the filter string, the SQLite
commands), which the manual page must repeat; the workbook opened as it is,
under a German locale, as by a double click. Every cell and every row is
compared with the fields of examples/access.csv, whose log holds the
pitfalls: addresses whose last three groups have three digits, client-sent
fields that begin with "=", agents with semicolons, text beyond ASCII, a
byte of Windows-1252, control bytes.

    clients.py PROGRAM  (CTest runs it with the label clients)

Exits 77 (skipped) where Calc, openpyxl or sqlite3 is missing; scripts/check
installs them.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from expect import HEADER, cells, escaped, records, reference

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else None
with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
    README = f.read()
FILTER = re.search(r'--infilter="([^"]+)"', README).group(1)
SQLITE = re.search(r"^    sqlite3 zugriffe\.db\n((?:    .*\n)*?    \.quit\n)", README, re.M).group(1)
SQLITE = [line[4:] for line in SQLITE.splitlines()]
GERMAN = dict(os.environ, LC_ALL="de_DE.UTF-8")

try:
    import openpyxl
except ImportError:
    openpyxl = None


def fields(line):
    """The nine fields of a CSV line, as bytes: split at semicolons outside
    double quotes, the quotes around a field taken off, as both programs do."""
    out, field, quoted = [], b"", False
    for ch in line:
        ch = bytes([ch])
        if ch == b'"':
            quoted = not quoted
        elif ch == b";" and not quoted:
            out.append(field)
            field = b""
            continue
        field += ch
    out.append(field)
    return [f[1:-1] if len(f) > 1 and f[:1] == f[-1:] == b'"' else f for f in out]


with open(os.path.join(ROOT, "examples", "access.csv"), "rb") as f:
    ROWS = [fields(line) for line in f.read().split(b"\n")[:-1]]
# The sample's line whose user is a;b: a semicolon outside quotes, which the
# CSV copies as the log has it, and which every reader of the CSV takes for
# a separator. The README says so, and where the way out is.
SPLIT = [i for i, row in enumerate(ROWS) if len(row) != 9]


def shown(cell):
    """A cell as text: numbers as Calc shows them, integers without a point,
    and the control characters that Calc writes in the form _xhhhh_ read
    back (a literal _x0041_ it writes as it is)."""
    v = cell.value
    if isinstance(v, float) and v.is_integer():
        v = int(v)
    v = "" if v is None else str(v)
    return re.sub(r"_x00([01][0-9a-fA-F])_", lambda m: chr(int(m.group(1), 16)), v)


def unescape(text):
    """Text with every form _xHHHH_ read back as its character, as a
    workbook's reader is to read it."""
    return re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), text)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zettrik-clients-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        shutil.copy(os.path.join(ROOT, "examples", "access.csv"), self.dir)


@unittest.skipUnless(shutil.which("soffice") and openpyxl, "needs LibreOffice Calc and openpyxl")
class Calc(Case):
    def imported(self, options):
        """The sheet that Calc makes of the CSV with these filter options,
        under a German locale, as rows of cells."""
        subprocess.run(["soffice", "--headless",
                        "-env:UserInstallation=file://" + os.path.join(self.dir, "profile"),
                        "--infilter=" + options, "--convert-to", "xlsx", "--outdir",
                        self.dir, os.path.join(self.dir, "access.csv")],
                       env=GERMAN, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        sheet = openpyxl.load_workbook(os.path.join(self.dir, "access.xlsx")).active
        return [list(row) for row in sheet.iter_rows()]

    def wrong(self, rows):
        """The cells that differ from the fields (read as UTF-8, as the
        import reads them, a byte that is none shown as U+FFFD), or are
        formulas, or are an address that is not text."""
        self.assertEqual(len(ROWS), len(rows))
        bad = []
        for want, row in zip(ROWS, rows):
            while row and row[-1].value is None:  # the sheet is as wide as its widest row
                row = row[:-1]
            self.assertEqual(len(want), len(row))
            for i, (field, cell) in enumerate(zip(want, row)):
                field = field.decode("utf-8", "replace")
                if shown(cell) != field or cell.data_type == "f" or (i == 0 and cell.data_type != "s"):
                    bad.append((field, cell.value, cell.data_type))
        return bad

    def test_the_documented_import_keeps_every_field(self):
        # Every field but for the line with a;b, which has ten columns.
        self.assertEqual([], self.wrong(self.imported(FILTER)))
        self.assertEqual(1, len(SPLIT))
        self.assertEqual([b"-", b"a", b"b"], ROWS[SPLIT[0]][1:4])

    def test_without_the_text_column_addresses_turn_into_numbers(self):
        # The check can fail: with the first column left as Standard, the
        # addresses whose last three groups have three digits are numbers.
        bad = self.wrong(self.imported(FILTER.replace(",1/2,", ",1/1,")))
        self.assertTrue(bad)
        for field, value, kind in bad:
            self.assertRegex(field, r"^\d+\.\d{3}\.\d{3}\.\d{3}$")
            self.assertEqual(int(field.replace(".", "")), value)

    @unittest.skipUnless(PROGRAM, "needs the program")
    def test_the_workbook_opens_with_every_cell_right(self):
        # The sample's workbook, opened as it is under a German locale:
        # every cell as the workbook's rules say, none a formula, every
        # address text; read back from what Calc writes of it.
        with open(os.path.join(ROOT, "examples", "access.log"), "rb") as f:
            log = f.read()
        subprocess.run([PROGRAM, os.path.join(ROOT, "examples", "access.log"),
                        os.path.join(self.dir, "book.xlsx")], check=True, stdout=subprocess.DEVNULL)
        out = os.path.join(self.dir, "out")
        subprocess.run(["soffice", "--headless",
                        "-env:UserInstallation=file://" + os.path.join(self.dir, "profile"),
                        "--convert-to", "xlsx", "--outdir", out, os.path.join(self.dir, "book.xlsx")],
                       env=GERMAN, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        book = openpyxl.load_workbook(os.path.join(out, "book.xlsx"))
        self.assertEqual(["Zugriffe"], book.sheetnames)
        rows = [[shown(c) if c.data_type == "s" else c.value for c in row]
                for row in book.active.iter_rows()]
        want = [HEADER] + cells(log)
        self.assertEqual(want, rows)
        kinds = [["n" if isinstance(v, int) else "d" if isinstance(v, datetime.datetime) else "s"
                  for v in row] for row in want]
        self.assertEqual(kinds, [[c.data_type for c in row] for row in book.active.iter_rows()])


def written(value, dates):
    """A cell's value as a reader writes it into a CSV file: a date in the
    given format, nothing for an empty cell."""
    if isinstance(value, datetime.datetime):
        return value.strftime(dates)
    return "" if value is None else str(value)


class Named(Case):
    def test_a_csv_named_as_another_spreadsheet_is_what_the_readme_says(self):
        # The CSV under that name, as the README says, and Calc's handling
        # of it: a .xls opened as text, every line in one column; a .ods
        # or .xlsm refused.
        import csv
        import html
        sample = os.path.join(self.dir, "access.csv")
        for name in ("a.xls", "a.ods", "a.xlsm"):
            subprocess.run([PROGRAM, os.path.join(ROOT, "examples", "access.log"), name],
                           cwd=self.dir, check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(self.dir, name), "rb") as f, open(sample, "rb") as g:
                self.assertEqual(g.read(), f.read(), name)
            out = os.path.join(self.dir, "out-" + name)
            subprocess.run(["soffice", "--headless", "--convert-to", "html", "--outdir", out, name],
                           cwd=self.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300, env=GERMAN)
            made = os.path.join(out, "a.html")
            self.assertEqual(name == "a.xls", os.path.exists(made), name)
        with open(os.path.join(self.dir, "out-a.xls", "a.html"), encoding="utf-8") as f:
            first = re.search(r"<tr.*?</tr>", f.read(), re.S).group(0)
        shown = [html.unescape(re.sub(r"<[^>]*>", "", c)).strip()
                 for c in re.findall(r"<td.*?</td>", first, re.S)]
        with open(sample, "rb") as f:
            self.assertEqual(f.readline().rstrip(b"\n").decode(), shown[0])
        # Gnumeric splits it at separators of its own guessing: not at the
        # semicolons alone.
        if shutil.which("ssconvert"):
            subprocess.run(["ssconvert", "a.xls", "gnumeric.csv"], cwd=self.dir, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            with open(os.path.join(self.dir, "gnumeric.csv"), encoding="utf-8", errors="replace") as f:
                first = next(csv.reader(f))
            self.assertNotEqual([field.decode(errors="replace") for field in ROWS[0]], first)
            self.assertGreater(len(first), 1)


@unittest.skipUnless(PROGRAM and shutil.which("ssconvert") and shutil.which("xlsx2csv") and
                     shutil.which("pdftotext") and openpyxl,
                     "needs the program, gnumeric, xlsx2csv, pdftotext and openpyxl")
class OtherReaders(Case):
    """The sample's workbook in readers that need every row and cell to
    carry its reference: Gnumeric (whose own workbook of it openpyxl reads)
    and xlsx2csv."""

    def setUp(self):
        super().setUp()
        with open(os.path.join(ROOT, "examples", "access.log"), "rb") as f:
            self.want = [HEADER] + cells(f.read())
        self.book = os.path.join(self.dir, "book.xlsx")
        subprocess.run([PROGRAM, os.path.join(ROOT, "examples", "access.log"), self.book],
                       check=True, stdout=subprocess.DEVNULL)

    def test_gnumeric_reads_every_cell(self):
        # Gnumeric writes a date in a CSV file in its own form, to the second.
        # Gnumeric shows the forms _xHHHH_ as they stand.
        import csv
        import io
        out = os.path.join(self.dir, "gnumeric.csv")
        p = subprocess.run(["ssconvert", self.book, out], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=300)
        self.assertEqual((0, b""), (p.returncode, p.stdout))
        with open(out, encoding="utf-8", newline="") as f:
            rows = list(csv.reader(f))
        self.assertEqual([[escaped(v) if isinstance(v, str) else written(v, "%Y/%m/%d %H:%M:%S")
                           for v in row] for row in self.want], rows)

    def test_gnumeric_has_room_for_every_date_number_address_and_zone(self):
        # Where a date or a number is wider than its column, Gnumeric shows
        # #####; printed, it shows the value whole, beyond its column. So
        # each value's box as printed is held to its column: the left edge
        # where the header's text begins (text and the header are aligned
        # left, dates and numbers right), the width as Gnumeric reads it
        # back. Calibri is not installed: this is the font it falls back on.
        # The sample, and an address of eight full groups, as clients' are.
        import gzip
        import html
        with open(os.path.join(ROOT, "examples", "access.log"), "rb") as f:
            log = f.read()
        log += b"2a02:810d:4b3f:e200:a1b2:c3d4:e5f6:7890" + log[log.index(b" "):log.index(b"\n") + 1]
        with open(os.path.join(self.dir, "wide.log"), "wb") as f:
            f.write(log)
        subprocess.run([PROGRAM, "wide.log", self.book], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["ssconvert", self.book, "book.gnumeric"], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        with gzip.open(os.path.join(self.dir, "book.gnumeric"), "rt", encoding="utf-8") as f:
            widths = {int(n): float(w) for n, w in
                      re.findall(r'<gnm:ColInfo No="(\d+)" Unit="([\d.]+)"', f.read())}
        subprocess.run(["ssconvert", self.book, "book.pdf"], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        boxes = subprocess.run(["pdftotext", "-bbox", "book.pdf", "-"], cwd=self.dir, check=True,
                               stdout=subprocess.PIPE).stdout.decode("utf-8")
        kinds = [("Zeit", r"\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d"), ("Zone", r"[+-]\d{4}"),
                 ("Status", r"\d+"), ("Bytes", r"\d+"), ("Adresse", r"[\d.:a-f]+")]
        seen = {name: 0 for name, _ in kinds}
        wrong, heads = [], {}
        for page in re.findall(r"<page.*?</page>", boxes, re.S):
            words = [(float(x0), float(y0), float(x1), html.unescape(w)) for x0, y0, x1, w in
                     re.findall(r'xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" '
                                r'yMax="[\d.]+">([^<]*)<', page)]
            # Printed down, then across: a page below the header's has the
            # columns of the page above.
            top = min(y for _, y, _, _ in words)
            found = {w: x0 for x0, y, _, w in words if y == top and w in HEADER}
            heads = found or heads
            lines = {}
            for x0, y, x1, w in sorted(words):
                if not (found and y == top):
                    lines.setdefault(y, []).append((x0, x1, w))
            for line in lines.values():
                # The date and its time are two words; a cell the next one.
                cells, last = [], None
                for x0, x1, w in line:
                    if last and re.fullmatch(r"\d\d:\d\d:\d\d", w) and x0 - last[1] < 6:
                        last = cells[-1] = (last[0], x1, last[2] + " " + w)
                    else:
                        last = (x0, x1, w)
                        cells.append(last)
                for name, form in kinds:
                    if name not in heads:
                        continue
                    left = heads[name]
                    right = left + widths[HEADER.index(name)]
                    # A value of the column: the first on the line for the
                    # address, else one of its form that ends in the column.
                    mine = [c for c in cells if re.fullmatch(form, c[2]) and
                            (c is cells[0] if name == "Adresse" else left < c[1] <= right)]
                    for x0, x1, w in mine:
                        seen[name] += 1
                        if x0 < left - 0.5 or x1 > right:
                            wrong.append((name, w, round(x1 - x0, 1), widths[HEADER.index(name)]))
        self.assertEqual([], wrong)
        # Each row's date and address looked at.
        self.assertGreaterEqual(seen["Zeit"], len(self.want))
        self.assertGreaterEqual(seen["Adresse"], len(self.want))
        self.assertTrue(all(seen.values()), seen)

    def test_xlsx2csv_reads_every_cell(self):
        import csv
        import io
        # It shows a date in the cell's own format, dd.mm.yyyy hh:mm:ss.
        p = subprocess.run(["xlsx2csv", "--escape", self.book], stdout=subprocess.PIPE, check=True,
                           timeout=300)
        rows = list(csv.reader(io.StringIO(p.stdout.decode("utf-8"), newline="")))
        self.assertEqual([[written(v, "%d.%m.%Y %H:%M:%S") for v in row] for row in self.want],
                         [[unescape(v) for v in row] for row in rows])


@unittest.skipUnless(shutil.which("sqlite3"), "needs sqlite3")
class Sqlite(Case):
    def test_the_documented_commands_keep_every_row(self):
        # Run twice, as a user does the next day: every row, once.
        import sqlite3
        # The line with a;b loses its last field, and SQLite says so.
        for _ in range(2):
            p = subprocess.run(["sqlite3", "zugriffe.db"], input="\n".join(SQLITE) + "\n",
                               text=True, cwd=self.dir, check=True, timeout=120,
                               stderr=subprocess.PIPE)
            self.assertEqual("access.csv:%d: expected 9 columns but found 10 - extras ignored\n"
                             % (SPLIT[0] + 1), p.stderr)
        db = sqlite3.connect(os.path.join(self.dir, "zugriffe.db"))
        db.text_factory = bytes  # every byte of the log, UTF-8 or not
        rows = [list(r) for r in db.execute("SELECT * FROM zugriffe ORDER BY rowid")]
        db.close()
        self.assertEqual([row[:9] for row in ROWS], rows)


    def test_the_documented_queries_read_the_database(self):
        # The sample into a database, and the README's queries and its
        # pandas lines on it, against the rows stated once more; the
        # manuals give no query that is not run here. The sample's first
        # hour is the last of the year before in UTC, so that the days of
        # the server's clock and of UTC differ.
        import collections
        import datetime
        with open(os.path.join(ROOT, "examples", "access.log"), "rb") as f:
            want = records(f.read())
        subprocess.run([PROGRAM, os.path.join(ROOT, "examples", "access.log"), "zugriffe.sqlite"],
                       cwd=self.dir, check=True, stdout=subprocess.DEVNULL)
        section = README[README.index("**More than a million rows.**"):README.index("    sqlite3 zugriffe.db")]
        queries = re.findall(r"^    (SELECT .*;)$", section, re.M)
        index = re.search(r"`(CREATE INDEX [^`]*;)`", section).group(1)
        self.assertEqual(7, len(queries))
        if shutil.which("groff"):
            for page in ("zettrik.1", "zettrik.de.1"):
                given = set(re.findall(r"SELECT [^;\"]*;", " ".join(rendered(page).split())))
                self.assertGreater(len(given), 5, page)
                self.assertEqual(set(), given - set(queries), page)

        def text(v):
            return v.decode() if isinstance(v, bytes) else str(v)

        def utc(zeit, form):
            try:
                t = datetime.datetime.fromisoformat(zeit)
            except ValueError:
                return ""
            return t.astimezone(datetime.timezone.utc).strftime(form)
        numbers = [r[7] for r in want if isinstance(r[7], int)]
        self.assertLess(len(numbers), len(want))  # some bytes are "-"
        expected = [collections.Counter(text(r[6]) for r in want),
                    collections.Counter(text(r[4])[11:13] for r in want),
                    collections.Counter(utc(text(r[4]), "%H") for r in want),
                    collections.Counter(text(r[4])[:10] for r in want),
                    collections.Counter(utc(text(r[4]), "%Y-%m-%d") for r in want),
                    "%r\n" % float(sum(numbers)), "%d\n" % sum(numbers)]
        self.assertNotEqual(expected[1], expected[2])  # the offsets count in UTC
        self.assertNotEqual(expected[3], expected[4])  # and so do the days
        for query, counts in zip([index] + queries, [None] + expected):
            p = subprocess.run(["sqlite3", "-batch", "zugriffe.sqlite", query], cwd=self.dir,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=True)
            self.assertEqual("", p.stderr, query)
            if isinstance(counts, str):
                self.assertEqual(counts, p.stdout, query)
            elif counts is not None:
                got = collections.Counter({k: int(n) for k, n in
                                           (line.rsplit("|", 1) for line in p.stdout.splitlines())})
                self.assertEqual(counts, got, query)
        # What the README says of sum(): a floating-point number here.
        p = subprocess.run(["sqlite3", "-batch", "zugriffe.sqlite", "SELECT sum(bytes) FROM zugriffe;"],
                           cwd=self.dir, stdout=subprocess.PIPE, text=True, check=True)
        self.assertEqual(expected[5], p.stdout)
        line = re.search(r"`(pandas\.read_sql\([^`]*\))`", section).group(1)
        try:
            import pandas  # noqa: F401
        except ImportError:
            self.skipTest("needs python3-pandas for the README's pandas line")
        p = subprocess.run([sys.executable, "-c", "import pandas, sqlite3\nf = %s\n"
                            "print(len(f), list(f.columns))\nprint(list(f['benutzer']))" % line],
                           cwd=self.dir, stdout=subprocess.PIPE, text=True, check=True)
        self.assertEqual("%d ['zeile', 'adresse', 'identitaet', 'benutzer', 'zeit', 'anfrage', "
                         "'status', 'bytes', 'verweis', 'browser']\n%r\n"
                         % (len(want), [text(r[3]) for r in want]), p.stdout)
        # The recipe's table names its columns as the target does.
        made = re.search(r"CREATE TABLE zugriffe \((.*)\);", "\n".join(SQLITE)).group(1)
        self.assertEqual("adresse, identitaet, benutzer, zeit, anfrage, status, bytes, verweis, browser", made)
        # The workbook read by pandas: every line, the one with a;b split right.
        line = re.search(r"`(pandas\.read_excel\([^`]*\))`", README).group(1)
        subprocess.run([PROGRAM, os.path.join(ROOT, "examples", "access.log"), "zugriffe.xlsx"],
                       cwd=self.dir, check=True, stdout=subprocess.DEVNULL)
        p = subprocess.run([sys.executable, "-c", "import pandas\nf = %s\n"
                            "print(len(f), list(f['Benutzer']))" % line],
                           cwd=self.dir, stdout=subprocess.PIPE, text=True, check=True)
        self.assertEqual("%d %r\n" % (len(want), [text(r[3]) for r in want]), p.stdout)

    def test_a_zero_byte_is_kept_and_the_shell_cuts_it(self):
        # As the README says: stored whole; sqlite3 shows the text up to the
        # zero byte, and length() counts up to it too.
        line = b'1.2.3.4 - - [07/Dec/2026:10:00:00 +0100] "GET / HTTP/1.0" 200 5 "-" "A\0B"\n'
        with open(os.path.join(self.dir, "nul.log"), "wb") as f:
            f.write(line)
        subprocess.run([PROGRAM, "nul.log", "nul.db"], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL)
        p = subprocess.run(["sqlite3", "-batch", "nul.db", "SELECT browser, length(browser), "
                            "length(CAST(browser AS BLOB)) FROM zugriffe;"], cwd=self.dir,
                           stdout=subprocess.PIPE, check=True)
        self.assertEqual(b"A|1|3\n", p.stdout)


class Pandas(Case):
    def test_the_documented_line_keeps_every_field(self):
        try:
            import pandas  # noqa: F401
        except ImportError:
            self.skipTest("needs python3-pandas")
        # Every field of every line, but that the line with a;b stops it,
        # as the README says: read without that line, and with it.
        line = re.search(r"^    (frame = pandas\.read_csv\(.*\))$", README, re.M).group(1)
        os.chdir(self.dir)  # where Case put the sample's CSV
        self.addCleanup(os.chdir, ROOT)
        import pandas
        with self.assertRaisesRegex(pandas.errors.ParserError,
                                    "Expected 9 fields in line %d, saw 10" % (SPLIT[0] + 1)):
            exec("import pandas\n" + line, {})
        with open("access.csv", "rb") as f:
            lines = f.read().split(b"\n")
        with open("access.csv", "wb") as f:
            f.write(b"\n".join(line for i, line in enumerate(lines) if i != SPLIT[0]))
        found = {}
        exec("import pandas\n" + line, found)
        self.assertEqual([row for i, row in enumerate(ROWS) if i != SPLIT[0]],
                         [[v.encode("utf-8", "surrogateescape") for v in row]
                          for row in found["frame"].itertuples(index=False)])



class Rotated(Case):
    def test_the_documented_lines_convert_each_rotated_log(self):
        # A folder as a server's rotation leaves it, and what an earlier
        # run made there: each log into its own CSV, nothing else touched.
        import gzip
        section = README[README.index("**Rotated logs.**"):]
        lines = re.search(r"^    (find \. .*)\n    (grep -l .*?)\s+#", section, re.M)
        with open(os.path.join(ROOT, "examples", "access.log"), "rb") as f:
            sample = f.read()
        good = sample.split(b"\n")[0] + b"\n"
        logs = {"access.log": sample, "access.log.1": good * 3 + b"bad\n",
                "access.log.2.gz": gzip.compress(sample), "access.log.3.gz": gzip.compress(b"")}
        for name, log in logs.items():
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(log)
        with open(os.path.join(self.dir, "access.log.0.csv"), "wb") as f:
            f.write(b"made earlier\n")
        os.mkdir(os.path.join(self.dir, "bin"))
        os.symlink(PROGRAM, os.path.join(self.dir, "bin", "zettrik"))
        env = dict(os.environ, PATH=os.path.join(self.dir, "bin") + os.pathsep + os.environ["PATH"])
        subprocess.run(["sh", "-c", lines.group(1)], cwd=self.dir, env=env, check=True, timeout=300)
        found = subprocess.run(["sh", "-c", lines.group(2)], cwd=self.dir, stdout=subprocess.PIPE,
                               timeout=60)
        self.assertEqual(b"", found.stdout)
        plain = {"access.log": sample, "access.log.1": good * 3 + b"bad\n",
                 "access.log.2": sample, "access.log.3": b""}
        for base, log in plain.items():
            with open(os.path.join(self.dir, base + ".csv"), "rb") as f:
                self.assertEqual(reference(log)[0], f.read(), base)
        with open(os.path.join(self.dir, "access.log.0.csv"), "rb") as f:
            self.assertEqual(b"made earlier\n", f.read())
        self.assertEqual(sorted(list(logs) + [b + e for b in plain for e in (".csv", ".txt")] +
                                ["access.log.0.csv", "access.csv", "bin"]),
                         sorted(os.listdir(self.dir)))


# LibreOffice's own German translation, from libreoffice-l10n-de: every
# label the instructions quote must stand there as the dialog shows it (the
# mark of a mnemonic and a closing colon taken off).
CATALOGS = "/usr/lib/libreoffice/program/resource/de/LC_MESSAGES"


def labels():
    import gettext
    found = set()
    for name in os.listdir(CATALOGS):
        if name.endswith(".mo"):
            with open(os.path.join(CATALOGS, name), "rb") as f:
                for text in gettext.GNUTranslations(f)._catalog.values():
                    if isinstance(text, str):
                        found.add(re.sub(r"[~_]", "", text).rstrip(":").strip())
    return found


def rendered(page="zettrik.de.1"):
    """A manual page as a terminal shows it, the German one unless told."""
    return subprocess.run(["groff", "-Tutf8", "-man", "-P-cbou", os.path.join(ROOT, "man", page)],
                          check=True, stdout=subprocess.PIPE).stdout.decode()


@unittest.skipUnless(os.path.isdir(CATALOGS) and shutil.which("groff"),
                     "needs libreoffice-l10n-de and groff")
class Labels(unittest.TestCase):
    def test_every_label_quoted_for_calc_is_calcs_own(self):
        known = labels()
        readme = README[README.index("**LibreOffice Calc.**"):README.index("The same import in a script")]
        manual = " ".join(rendered().split())
        manual = manual[manual.index("LibreOffice Calc (die"):manual.index("Derselbe Import")]
        quoted = [" ".join(q.split()) for q in
                  re.findall(r'"([^"`]+)"', readme) + re.findall(r"„([^“]+)“", manual)]
        self.assertGreater(len(quoted), 20)
        self.assertEqual([], [q for q in quoted if q not in known])
        for word in ("Gebietsschema", "Zeichenfolgen-Trennerzeichen"):
            self.assertIn(word, readme)
            self.assertIn(word, manual)


@unittest.skipUnless(shutil.which("groff"), "needs groff")
class Manual(unittest.TestCase):
    def test_the_manual_pages_give_the_same_instructions(self):
        for page in ("zettrik.de.1", "zettrik.1"):
            text = rendered(page)
            self.assertIn(FILTER, text, page)
            for line in SQLITE:
                self.assertIn(line, text, page)


if __name__ == "__main__":
    if not (shutil.which("soffice") and openpyxl and shutil.which("sqlite3")):
        print("clients: LibreOffice Calc, openpyxl or sqlite3 missing: skipped")
        sys.exit(77)
    # Calc reads the addresses as numbers under a German locale; the check
    # that it can fail needs one. Made here where it is missing.
    if "de_DE.utf8" not in subprocess.run(["locale", "-a"], stdout=subprocess.PIPE,
                                          text=True).stdout:
        subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", "de_DE.UTF-8"], check=True)
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
