"""What the converter must make of a log, stated once more, slowly and
plainly, for the end-to-end and the client tests: the CSV and the count of
rejected lines, the cells of a workbook and the rows of a database; and a
reader of workbooks that needs nothing beyond the standard library."""
import re


def reference(log):
    """The rules of the conversion stated once more, slowly and plainly:
    returns the CSV and the number of rejected lines."""
    out, faulty = [], 0
    for line in log.split(b"\n")[:-1]:
        quotes = brackets = separators = 0
        row = bytearray()
        for ch in line:
            if ch == ord('"'):
                quotes += 1
            elif ch in b"[]" and quotes % 2 == 0:
                brackets += 1
            elif ch == ord(" ") and quotes % 2 == 0 and brackets % 2 == 0:
                separators += 1
                ch = ord(";")
            row.append(ch)
        if (separators, quotes, brackets) == (8, 6, 2) and len(line) < 65535:
            out.append(bytes(row) + b"\n")
        else:
            faulty += 1
    return b"".join(out), faulty


# A workbook's header row, and the characters of Windows-1252 for 0x80 to
# 0x9F (the five it leaves out keep their code point).
HEADER = ["Adresse", "Identität", "Benutzer", "Zeit", "Zone", "Anfrage", "Status", "Bytes",
          "Verweis", "Browser"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def when(field):
    """The time that a Zeit field of the form [07/Dec/2026:10:00:00 +0100]
    stands for, as the server's clock shows it, and its offset; None where
    the field is not exactly of that form, of a day that exists, from
    1900-03-01 on."""
    import datetime
    m = re.fullmatch(rb"\[(\d\d)/([A-Z][a-z]{2})/(\d{4}):(\d\d):(\d\d):(\d\d) ([+-])(\d\d)(\d\d)\]", field)
    if not m or m.group(2).decode() not in MONTHS or int(m.group(8)) > 23 or int(m.group(9)) > 59:
        return None
    try:
        t = datetime.datetime(int(m.group(3)), MONTHS.index(m.group(2).decode()) + 1, int(m.group(1)),
                              int(m.group(4)), int(m.group(5)), int(m.group(6)))
    except ValueError:  # no such day, hour, minute or second
        return None
    if t < datetime.datetime(1900, 3, 1):
        return None
    return t, field[22:27].decode()
CP1252 = {c: bytes([c]).decode("cp1252", "ignore") or chr(c) for c in range(0x80, 0xa0)}


def decoded(field):
    """The text of a field's bytes: UTF-8 where valid, Windows-1252 else."""
    out, i = [], 0
    while i < len(field):
        for k in (1, 2, 3, 4):
            try:
                char = field[i:i + k].decode("utf-8")
            except UnicodeDecodeError:
                continue
            out.append(char)
            i += k
            break
        else:
            out.append(CP1252.get(field[i], chr(field[i])))
            i += 1
    return "".join(out)


def fields(line):
    """The fields of a line, split at the spaces outside quotes and brackets,
    each without the quotes around a quoted one; None for a line that the
    conversion rejects."""
    if reference(line + b"\n")[1]:
        return None
    out, start, quotes, brackets = [], 0, 0, 0
    for i, ch in enumerate(line):
        if ch == ord('"'):
            quotes += 1
        elif ch in b"[]" and quotes % 2 == 0:
            brackets += 1
        elif ch == ord(" ") and quotes % 2 == 0 and brackets % 2 == 0:
            out.append(line[start:i])
            start = i + 1
    out.append(line[start:])
    return [f[1:-1] if len(f) >= 2 and f[:1] == f[-1:] == b'"' else f for f in out]


def plain(field):
    """Whether Status or Bytes is a number: a plain integer of at most 15
    digits without a leading zero."""
    return field.isdigit() and len(field) <= 15 and (field[:1] != b"0" or field == b"0")


def lines(log):
    """The complete lines of a log, without their line ends, the CR of a
    CR LF included."""
    return [line[:-1] if line.endswith(b"\r") else line for line in log.split(b"\n")[:-1]]


def cells(log):
    """The rows that a workbook holds for a log, by the rules stated once
    more: the fields of each accepted line, without the quotes around a
    quoted one, Status and Bytes as numbers where they are plain integers
    of at most 15 digits without a leading zero, Zeit as a datetime with
    its offset in Zone where it is a time of the right form (a text and
    None otherwise)."""
    rows = []
    for line in lines(log):
        row = []
        for i, f in enumerate(fields(line) or []):
            if i == 3:  # Zeit, and Zone after it
                row += list(when(f)) if when(f) else [decoded(f), None]
            else:
                row.append(int(f) if i in (5, 6) and plain(f) else decoded(f))
        if row:
            rows.append(row)
    return rows


def records(log):
    """The rows that a database holds for a log, as SQLite gives them back
    with text as bytes: the number of the line in the log (every line
    counted, from 1), then the fields by the workbook's rules, Zeit as
    2026-12-07 10:00:00+01:00 where it is a time of the right form, every
    text as UTF-8 and nothing escaped."""
    rows = []
    for number, line in enumerate(lines(log), 1):
        f = fields(line)
        if f is None:
            continue
        row = [number]
        for i, field in enumerate(f):
            if i == 3 and when(field):
                t, zone = when(field)
                row.append(("%s%s:%s" % (t, zone[:3], zone[3:])).encode())
            elif i in (5, 6) and plain(field):
                row.append(int(field))
            else:
                row.append(decoded(field).encode())
        rows.append(tuple(row))
    return rows


def database(path):
    """The rows of the table zugriffe in the database at path, by key, text
    as bytes; and what the database says of its integrity."""
    import sqlite3
    con = sqlite3.connect(path)
    con.text_factory = bytes
    try:
        rows = con.execute("SELECT * FROM zugriffe ORDER BY zeile").fetchall()
        return rows, con.execute("PRAGMA integrity_check").fetchone()[0]
    finally:
        con.close()


def escaped(text):
    """A cell's text as the workbook writes it, for readers that show the
    forms _xHHHH_ as they stand: the C0 controls but tab, line feed and
    carriage return, and U+FFFE and U+FFFF, in that form, and the
    underscore of every _x followed by four hex digits as _x005F_."""
    out = []
    for i, ch in enumerate(text):
        if (ord(ch) < 0x20 and ch not in "\t\n\r") or ch in "\ufffe\uffff":
            out.append("_x%04X_" % ord(ch))
        elif ch == "_" and re.match(r"x[0-9A-Fa-f]{4}", text[i + 1:i + 6]):
            out.append("_x005F_")
        else:
            out.append(ch)
    return "".join(out)


def workbook(data, only=None):
    """The sheets of a workbook, in order: their names and their rows of
    cells (only for the sheet numbers in only, where given; None for the
    others), numbers as int, text with the forms _xHHHH_ read back as the
    characters they stand for, as spreadsheets read them. No cell may hold
    a formula."""
    import io
    import zipfile
    from xml.etree import ElementTree
    main = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
    unescape = lambda t: re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), t)
    book = zipfile.ZipFile(io.BytesIO(data))
    assert book.testzip() is None
    names = [s.get("name") for s in ElementTree.fromstring(book.read("xl/workbook.xml")).iter(main + "sheet")]
    sheets = []
    for i, name in enumerate(names):
        if only and i + 1 not in only:
            sheets.append((name, None))
            continue
        rows = []
        for number, row in enumerate(ElementTree.fromstring(
                book.read("xl/worksheets/sheet%d.xml" % (i + 1))).iter(main + "row")):
            assert row.get("r") == str(number + 1), (row.get("r"), number)
            cells = [None] * len(HEADER)
            for c in row.iter(main + "c"):
                assert c.find(main + "f") is None, "a formula"
                ref = re.fullmatch(r"([A-J])(\d+)", c.get("r"))
                assert ref and ref.group(2) == row.get("r"), c.get("r")
                column = ord(ref.group(1)) - ord("A")
                if c.get("t") == "inlineStr":
                    cells[column] = unescape("".join(t.text or "" for t in c.iter(main + "t")))
                elif c.get("s") == "2":  # a date: its serial read back to the second
                    cells[column] = moment(c.find(main + "v").text)
                else:
                    cells[column] = int(c.find(main + "v").text)
            rows.append(cells)
        sheets.append((name, rows))
    return sheets


def moment(serial):
    """The time of a date serial of the 1900 system, which must be a whole
    second, read as a reader of doubles reads it."""
    import datetime
    seconds = float(serial) * 86400
    assert abs(seconds - round(seconds)) < 1e-3, serial
    return datetime.datetime(1899, 12, 30) + datetime.timedelta(seconds=round(seconds))
