"""What the converter must make of a log, stated once more, slowly and
plainly, for the end-to-end and the client tests: the CSV and the count of
rejected lines, and the cells of a workbook; and a reader of workbooks that
needs nothing beyond the standard library."""
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


def cells(log):
    """The rows that a workbook holds for a log, by the rules stated once
    more: the fields of each accepted line, without the quotes around a
    quoted one, Status and Bytes as numbers where they are plain integers
    of at most 15 digits without a leading zero, Zeit as a datetime with
    its offset in Zone where it is a time of the right form (a text and
    None otherwise)."""
    rows = []
    for line in log.split(b"\n")[:-1]:
        if line.endswith(b"\r"):
            line = line[:-1]
        converted, faulty = reference(line + b"\n")
        if faulty:
            continue
        fields, start, quotes, brackets = [], 0, 0, 0
        for i, ch in enumerate(line):
            if ch == ord('"'):
                quotes += 1
            elif ch in b"[]" and quotes % 2 == 0:
                brackets += 1
            elif ch == ord(" ") and quotes % 2 == 0 and brackets % 2 == 0:
                fields.append(line[start:i])
                start = i + 1
        fields.append(line[start:])
        row = []
        for i, f in enumerate(fields):
            if len(f) >= 2 and f[:1] == f[-1:] == b'"':
                f = f[1:-1]
            plain = f.isdigit() and len(f) <= 15 and (f[:1] != b"0" or f == b"0")
            if i == 3:  # Zeit, and Zone after it
                row += list(when(f)) if when(f) else [decoded(f), None]
            else:
                row.append(int(f) if i in (5, 6) and plain else decoded(f))
        rows.append(row)
    return rows


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
