#!/usr/bin/env python3
"""End-to-end tests: run the built program as a user would and compare its
standard output and its files byte for byte.

    e2e.py PROGRAM [EMULATOR ...] [-- unittest arguments]

A Windows program (PROGRAM ending in .exe) is run under the emulator given
after it; it prints CR LF and writes its CSV with CR LF.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from expect import HEADER, cells, database, records, reference, workbook

args = sys.argv[1:]
rest = []
if "--" in args:
    rest = args[args.index("--") + 1:]
    args = args[:args.index("--")]
PROGRAM = os.path.abspath(args[0])
EMULATOR = args[1:]
WINDOWS = PROGRAM.endswith(".exe")
POSIX = os.name == "posix" and not WINDOWS
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EOL = b"\r\n" if WINDOWS else b"\n"
# A program built with a sanitizer maps terabytes of shadow memory at start.
with open(PROGRAM, "rb") as f:
    BINARY = f.read()
SANITIZED = b"__asan_init" in BINARY or b"__tsan_init" in BINARY
del BINARY
# Wine hands a program its own path as Windows sees it.
INVOKED = "Z:" + PROGRAM.replace("/", "\\") if WINDOWS and EMULATOR else PROGRAM
# Wine's server ends three seconds after its last program, and the next
# program starts it again with Wine's own services, whose standard error is
# the program's: a service that faults as it starts (seen now and then under
# load) printed its page fault into the error output of a run that went
# right. Kept running for the length of the suite, it starts them once.
if WINDOWS and EMULATOR and os.path.basename(EMULATOR[-1]).startswith("wine"):
    server = os.path.join(os.path.dirname(EMULATOR[-1]), "wineserver")
    if os.path.exists(server):
        subprocess.run(EMULATOR[:-1] + [server, "-p60"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
    VERSION = re.search(r"project\(zettrik VERSION ([0-9.]+)", f.read()).group(1).encode()
BANNER = re.compile(rb"Zettrik - EXPERIMENTELLE Version \(Build [A-Z][a-z]{2} [ 0-9][0-9] "
                    rb"[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\)\r?\nZettrik " + re.escape(VERSION) +
                    rb" - Freie Software, MIT-Lizenz, OHNE JEDE GEWAEHRLEISTUNG\.\r?\n")
USAGE = "FEHLER:\tAufruf mit Parametern 'Quelldatei' (Logfile) und 'Zieldatei' (CSV-Datei)\n" \
        "\t%s <quelle.log> <ziel.csv>\n\t%s <quelle.log> <ziel.xlsx|ziel.sqlite|ziel.db>\n" + \
        ("\tAnleitung: zettrik.html neben zettrik.exe\n" if WINDOWS else "\tAnleitung: man zettrik\n")
START = "Konvertiere Logfile '%s' nach CSV-Datei '%s':\n\n"
SUMMARY = "Fehlerhafte Logfile-Zeilen: %d !!!\n"
# The two failures, each with its name and the line of its cause.
NOSOURCE = "\nFEHLER:\tKann Quelldatei '%s' (Logfile) nicht lesen!\n\tGrund: %s\n"
NOTARGET = "\nFEHLER:\tKann Zieldatei '%s' (CSV-Datei) nicht schreiben!\n\tGrund: %s\n"
MISSING = "Datei oder Ordner nicht gefunden"
DENIED = "Zugriff verweigert"
SAME = "\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Quelldatei '%s' (Logfile)!\n"
STDOUT = "\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Standardausgabe!\n"

GOOD = (b'10.0.0.1 - - [07/Dec/2026:10:00:00 +0100] "GET /index.html HTTP/1.0" 200 512 '
        b'"-" "Agent/1.0 [en] (test)"\n')
GOODCSV = (b'10.0.0.1;-;-;[07/Dec/2026:10:00:00 +0100];"GET /index.html HTTP/1.0";200;512;'
           b'"-";"Agent/1.0 [en] (test)"\n')
BAD = b'10.0.0.1 - - [07/Dec/2026:10:00:00 +0100] "GET / HTTP/1.0" 200 512\n'


def at(n):
    """A count of bytes as the causes tell it: 1.234.567."""
    return "{:,}".format(n).replace(",", ".")


def damage(kind, tool, n=None):
    """The cause of damage to a compressed log, found after n bytes."""
    words = {"cut": "Die %s-Daten enden vorzeitig, nach %s Bytes des Logfiles",
             "corrupt": "Beschaedigte %s-Daten nach %s Bytes des Logfiles",
             "checksum": "Beschaedigte %s-Daten (Pruefsumme falsch) nach %s Bytes des Logfiles",
             "after": "Unbekannte Daten nach dem Ende der %s-Daten, nach %s Bytes des Logfiles",
             "magic": "Das Logfile endet nach %s Bytes, mitten in der Kennung von %s"}
    return words[kind] % ((at(n), tool) if kind == "magic" else (tool, at(n)))


def text(s):
    """A message as the program prints it; names may hold any bytes, as
    os.fsdecode() gives them."""
    return s.encode("utf-8", "surrogateescape").replace(b"\n", EOL)


def csv(b):
    """Lines of the CSV file as the program writes them."""
    return b.replace(b"\n", EOL)


def frames(n):
    return bytes(b"\\|/-"[i % 4] for i in range(n))


def sample():
    """The sample log shipped with the program."""
    with open(os.path.join(ROOT, "examples", "access.log"), "rb") as f:
        return f.read()


def packed(tool, data, *options):
    """data compressed by a tool (zstd, xz, bzip2, lz4), as it writes a file."""
    return subprocess.run([tool, "-q", "-c"] + list(options), input=data, stdout=subprocess.PIPE,
                          check=True).stdout


def dictionary(stream, size):
    """An xz stream of one block with the dictionary that its LZMA2 filter
    asks for set to the given properties byte (32: 256 MiB, 33: 384 MiB),
    the block header's CRC made anew: a valid stream that asks for more."""
    import zlib
    length = (stream[12] + 1) * 4
    header = bytearray(stream[12:12 + length])
    assert header[1] == 0 and header[2:4] == b"\x21\x01", header  # one filter, LZMA2
    header[4] = size
    header[-4:] = zlib.crc32(bytes(header[:-4])).to_bytes(4, "little")
    return stream[:12] + bytes(header) + stream[12 + length:]


def member(data, flags=0, level=6):
    """data as one gzip member whose header has the given flags (FTEXT 1,
    FHCRC 2, FEXTRA 4, FNAME 8, FCOMMENT 16) and the fields they announce."""
    import struct
    import zlib
    head = b"\x1f\x8b\x08" + bytes([flags]) + struct.pack("<I", 1765152000) + b"\0\3"
    if flags & 4:
        field = b"Zk" + struct.pack("<H", 300) + b"\xee" * 300
        head += struct.pack("<H", len(field)) + field
    if flags & 8:
        head += b"access.log\0"
    if flags & 16:
        head += b"rotated\0"
    if flags & 2:
        head += struct.pack("<H", zlib.crc32(head) & 0xffff)
    squeeze = zlib.compressobj(level, zlib.DEFLATED, -15)
    return (head + squeeze.compress(data) + squeeze.flush() +
            struct.pack("<II", zlib.crc32(data), len(data) & 0xffffffff))


# Another program that holds a database (its path, and how: "reader",
# "wal" or "writer") until a line comes on its standard input; then it
# commits and says what it finds. In WAL mode it ends as a killed program
# does, its WAL file and shared memory left behind.
HOLDER = r"""
import os, sqlite3, sys
con = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=0)
if sys.argv[2] == "wal":
    con.execute("PRAGMA journal_mode = WAL")
con.execute("BEGIN EXCLUSIVE" if sys.argv[2] == "writer" else "BEGIN")
print(con.execute("SELECT count(*) FROM zugriffe").fetchone()[0], flush=True)
if sys.argv[2] == "writer":
    con.execute("INSERT INTO zugriffe (zeile, adresse) VALUES (9, 'neu')")
sys.stdin.readline()
con.execute("COMMIT")
print(con.execute("PRAGMA integrity_check").fetchone()[0],
      con.execute("SELECT count(*) FROM zugriffe").fetchone()[0], flush=True)
if sys.argv[2] == "wal":
    con.execute("INSERT INTO zugriffe (zeile) VALUES (10)")
    os._exit(0)
"""


def differs(want, got):
    """Where got first differs from want, briefly; "" where it does not."""
    if want == got:
        return ""
    at = next((i for i, (a, b) in enumerate(zip(want, got)) if a != b), min(len(want), len(got)))
    return "differs at byte %d of %d (%d wanted): %r" % (at, len(got), len(want), got[at:at + 40])


def until(what, condition, seconds=60):
    """Waits until condition() holds, looking every millisecond; fails with
    what was awaited once the deadline has passed. A row that needs the
    program in some state waits for that state, not for a time."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("waited %d s for %s" % (seconds, what))
        time.sleep(0.001)


def pending(fd):
    """The bytes in a pipe not yet read, seen from either end."""
    import fcntl
    import struct
    import termios
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


def waiting_in_write(pid):
    """Whether a thread of the process waits in a write into a full pipe."""
    try:
        return any("pipe_write" in open("/proc/%d/task/%s/wchan" % (pid, t)).read()
                   for t in os.listdir("/proc/%d/task" % pid))
    except OSError:
        return False


def caught(pid, sig):
    """Whether a signal sent to the process waits to be taken."""
    with open("/proc/%d/status" % pid) as f:
        pending = [int(line.split()[1], 16) for line in f if line.startswith(("SigPnd:", "ShdPnd:"))]
    return any(mask & (1 << (sig - 1)) for mask in pending)


def stopped(pid):
    """Whether the process is stopped by a signal."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] in "Tt"
    except OSError:
        return True  # gone


def zettrik(*argv, cwd, program=PROGRAM, user=(), **kw):
    """Runs the program, as the user that the command user switches to if
    any, and returns its standard output after the banner; kw goes to
    subprocess.run (stdin, preexec_fn, timeout)."""
    kw.setdefault("timeout", 600)
    p = subprocess.run(list(user) + EMULATOR + [program] + list(argv), cwd=cwd,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    assert p.returncode == 0, "exit status %d" % p.returncode
    assert p.stderr in (b"",), p.stderr
    return after_banner(p.stdout)


def after_banner(out):
    m = BANNER.match(out)
    assert m, out[:200]
    return out[m.end():]


def onpty(argv, cwd):
    """Runs the program with a pseudo-terminal as standard output and returns
    everything shown there after the banner (the terminal ends lines in CR LF)."""
    import pty
    master, slave = pty.openpty()
    p = subprocess.Popen([PROGRAM] + argv, cwd=cwd, stdout=slave)
    os.close(slave)
    raw = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the other end is closed once the program ended
            break
        if not chunk:
            break
        raw += chunk
    os.close(master)
    assert p.wait() == 0
    return raw[BANNER.match(raw.replace(b"\r\n", b"\n")).end() + 2:]  # banner ends in CR LF


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zettrik-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def run_in(self, *argv, **kw):
        return zettrik(*argv, cwd=self.dir, **kw)

    def ordinary(self):
        """What run_in() needs to run the program as an ordinary user, for
        the rows that root's rights would hide: as root, setpriv switches to
        nobody, who runs a copy of the program in this folder, open to all."""
        if os.geteuid() != 0:
            return {}
        if not shutil.which("setpriv"):
            self.skipTest("needs setpriv to run as an ordinary user")
        os.chmod(self.dir, 0o777)
        shutil.copy(PROGRAM, self.path("zettrik-copy"))
        return {"program": self.path("zettrik-copy"),
                "user": ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]}

    def converted(self, lines, faulty, source="a.log", target="a.csv"):
        """The output of a run that converted both files."""
        return text(START % (source, target)) + frames(lines) + text(SUMMARY % faulty)

    def given_up(self, out, log, why, target="a.csv", source="a.log"):
        """Checks the output of a run whose target failed on the way: the
        log read up to where the failure was seen and no further, its lines
        shown and counted, then the target's failure with its cause.
        Returns how many lines were read."""
        start = text(START % (source, target))
        self.assertEqual(start, out[:len(start)])
        lines = len(re.match(rb"[\\|/-]*", out[len(start):]).group(0))
        read = b"".join(line + b"\n" for line in log.split(b"\n")[:lines])
        self.assertEqual(self.converted(lines, reference(read)[1], source, target) +
                         text(NOTARGET % (target, why)), out)
        return lines

    def cut(self, target):
        """Converts a gzip log of several blocks, cut at three quarters, into
        target; checks that the read error with its cause follows the
        summary, and returns the log as it was before the cut."""
        import gzip
        big = (GOOD * 3 + BAD) * 10000  # 4 MB: several blocks
        data = gzip.compress(big)
        self.write("cut.gz", data[:len(data) * 3 // 4])
        out = self.run_in("cut.gz", target)
        self.assertTrue(out.endswith(text(NOSOURCE % ("cut.gz", damage("cut", "gzip", len(data) * 3 // 4)))),
                        out[-100:])
        return big


class CommandLine(Case):
    def test_usage_names_the_program_as_invoked_and_creates_nothing(self):
        for argv in ([], ["a.log"], ["a.log", "b.csv", "c.csv"]):
            out = self.run_in(*argv)
            self.assertEqual(text(USAGE % (INVOKED, INVOKED)), out, argv)
            self.assertEqual([], os.listdir(self.dir), argv)

    def test_an_option_tried_leaves_the_target_as_it_is(self):
        # The tool has no options: a first name with a dash that names no
        # file gives the usage message, and the target is not emptied. A
        # log really named so still converts.
        self.write("keep.csv", b"kept\n")
        for option in ("--help", "-h", "-"):
            self.assertEqual(text(USAGE % (INVOKED, INVOKED)), self.run_in(option, "keep.csv"), option)
            self.assertEqual(b"kept\n", self.read("keep.csv"), option)
        self.write("-x.log", GOOD)
        self.assertEqual(self.converted(1, 0, "-x.log", "keep.csv"), self.run_in("-x.log", "keep.csv"))
        self.assertEqual(csv(GOODCSV), self.read("keep.csv"))


class Opening(Case):
    """Each way the two files can fail to open, in the order of the messages."""

    def test_missing_source_still_creates_or_empties_the_target(self):
        for old in (None, b"old contents\n"):
            if old:
                self.write("a.csv", old)
            out = self.run_in("missing.log", "a.csv")
            self.assertEqual(text(NOSOURCE % ("missing.log", MISSING)), out)
            self.assertEqual(b"", self.read("a.csv"))

    def test_unwritable_target_leaves_the_source_unread(self):
        self.write("a.log", GOOD)
        out = self.run_in("a.log", os.path.join("no", "a.csv"))
        self.assertEqual(text(NOTARGET % (os.path.join("no", "a.csv"), MISSING)), out)

    def test_both_failing_report_source_then_target(self):
        target = os.path.join("no", "a.csv")
        out = self.run_in("missing.log", target)
        self.assertEqual(text(NOSOURCE % ("missing.log", MISSING) + NOTARGET % (target, MISSING)), out)

    @unittest.skipUnless(POSIX, "sockets and programs of this system")
    def test_a_socket_or_a_running_program_cannot_be_opened(self):
        import socket
        self.write("a.log", GOOD)
        s = socket.socket(socket.AF_UNIX)
        self.addCleanup(s.close)
        s.bind(self.path("sock"))
        told = "Der Name ist ein Socket, keine Datei"
        self.assertEqual(text(NOSOURCE % ("sock", told)), self.run_in("sock", "a.csv"))
        for target in ("sock", "sock.db"):
            if target != "sock":
                os.link(self.path("sock"), self.path(target))
            self.assertEqual(text(NOTARGET % (target, told)), self.run_in("a.log", target), target)
        shutil.copy(shutil.which("sleep"), self.path("prog"))
        p = subprocess.Popen([self.path("prog"), "60"])
        self.addCleanup(p.wait)
        self.addCleanup(p.kill)
        until("the program to run", lambda: os.path.exists("/proc/%d/exe" % p.pid) and
              os.readlink("/proc/%d/exe" % p.pid) == self.path("prog"))
        self.assertEqual(text(NOTARGET % ("prog", "Die Datei ist ein laufendes Programm")),
                         self.run_in("a.log", "prog"))

    def test_folder_as_source_or_target_cannot_be_opened(self):
        # Told as the folder it is, where Windows says "access denied".
        os.mkdir(self.path("logs"))
        out = self.run_in("logs", "a.csv")
        self.assertEqual(text(NOSOURCE % ("logs", "Der Name ist ein Ordner")), out)
        self.assertEqual(b"", self.read("a.csv"))
        self.write("a.log", GOOD)
        for target in ("logs", "logs.xlsx", "logs.db"):
            os.makedirs(self.path(target), exist_ok=True)
            self.assertEqual(text(NOTARGET % (target, "Der Name ist ein Ordner")),
                             self.run_in("a.log", target), target)


class Conversion(Case):
    def test_good_and_bad_lines(self):
        self.write("a.log", GOOD + BAD + b"\n" + GOOD + b"no line feed")
        out = self.run_in("a.log", "a.csv")
        self.assertEqual(self.converted(4, 2), out)
        self.assertEqual(csv(GOODCSV + GOODCSV), self.read("a.csv"))

    def test_empty_source(self):
        self.write("a.log", b"")
        self.assertEqual(self.converted(0, 0), self.run_in("a.log", "a.csv"))
        self.assertEqual(b"", self.read("a.csv"))

    def test_all_lines_accepted_still_prints_the_summary(self):
        self.write("a.log", GOOD * 9)
        self.assertEqual(self.converted(9, 0), self.run_in("a.log", "a.csv"))
        self.assertEqual(csv(GOODCSV * 9), self.read("a.csv"))

    def test_sample_log(self):
        # As it is, and compressed: decoded as it is read, told by its first
        # bytes and not by its name, in one frame or several (gzip's members,
        # xz's and bzip2's streams) of two levels, with the padding each
        # format allows: zeros after gzip's last member, zeros in fours
        # between and after xz's streams, a skippable zstd frame. A plain log
        # named .gz, or beginning with the first byte of gzip's magic, is
        # read as it is.
        import gzip
        log = sample()
        half = log.index(b"\n", len(log) // 2) + 1
        skippable = b"\x5a\x2a\x4d\x18" + (5).to_bytes(4, "little") + b"index"
        for name, data, plain in (
                ("a.log", log, log),
                ("access.log.2.gz", gzip.compress(log, 6), log),
                ("rotated", gzip.compress(log, 1), log),
                ("two.gz", gzip.compress(log[:half]) + member(log[half:], 31) + b"\0" * 300, log),
                ("zstd-rotated", packed("zstd", log[:half], "-1") + skippable +
                 packed("zstd", log[half:], "-19"), log),
                ("xz-rotated", packed("xz", log[:half], "-0") + b"\0" * 4 +
                 packed("xz", log[half:], "-9") + b"\0" * 8, log),
                ("bzip2-rotated", packed("bzip2", log[:half], "-1") +
                 packed("bzip2", log[half:], "-9"), log),
                ("lzip-rotated", packed("lzip", log[:half], "-0") + packed("lzip", log[half:], "-9"),
                 log),
                ("a.lzma", packed("xz", log, "--format=lzma"), log),
                ("a9.lzma", packed("xz", log, "--format=lzma", "-9e"), log),
                ("empty.bz2", packed("bzip2", b""), b""),
                # Plain logs that begin as bzip2's and lzip's magic begin,
                # but with a host name.
                ("bzh.log", log.replace(b"10.0.0.1", b"BZh1.dyn.example.net", 1), None),
                ("lzip.log", b"LZIP.example.net" + log, None),
                # The largest window and dictionary that may be asked for.
                ("window.zst", packed("zstd", log, "--long=27"), log),
                ("dictionary.xz", dictionary(packed("xz", log), 32), log),
                ("plain.gz", log, log),
                ("odd.log", b"\x1f" + log, b"\x1f" + log)):
            plain = data if plain is None else plain
            want, faulty = reference(plain)
            self.write(name, data)
            self.assertEqual(self.converted(plain.count(b"\n"), faulty, name),
                             self.run_in(name, "a.csv"))
            self.assertEqual(csv(want), self.read("a.csv"), name)
        # The CSV shipped beside the sample is what the program makes of it.
        self.assertGreater(reference(log)[1], 5)  # the sample keeps some malformed lines
        with open(os.path.join(ROOT, "examples", "access.csv"), "rb") as f:
            self.assertEqual(reference(log)[0], f.read())

    def test_a_target_named_xlsx_is_a_workbook(self):
        # The sample, as it is and compressed, into a workbook: a sheet
        # Zugriffe with the header row and a row of cells for each accepted
        # line, the same messages as for a CSV file. A log that cannot be
        # read still gives a workbook, of the header row alone; so does a
        # log in a format not read. A read error after some blocks leaves a
        # workbook that opens with the rows before it.
        import gzip
        log = sample()
        want, faulty = reference(log)
        rows = [HEADER] + cells(log)
        self.assertEqual(len(rows) - 1, want.count(b"\n"))
        lines = log.count(b"\n")
        self.write("a.log", log)
        self.write("a.log.gz", gzip.compress(log))
        for source, target in (("a.log", "a.xlsx"), ("a.log.gz", "B.XLSX")):
            self.assertEqual(self.converted(lines, faulty, source, target), self.run_in(source, target))
            self.assertEqual([("Zugriffe", rows)], workbook(self.read(target)), target)
        self.assertEqual(text(NOSOURCE % ("missing.log", MISSING)), self.run_in("missing.log", "c.xlsx"))
        self.assertEqual([("Zugriffe", [HEADER])], workbook(self.read("c.xlsx")))
        big = self.cut("d.xlsx")
        made = workbook(self.read("d.xlsx"))[0][1]
        self.assertGreater(len(made), 1000)
        self.assertEqual([HEADER] + cells(big)[:len(made) - 1], made)
        # A cell holds 32,767 characters: a line with a longer field is
        # rejected in a workbook, though a CSV file takes it.
        fits = GOOD.replace(b"Agent/1.0 [en] (test)", b"x" * 32767)
        over = GOOD.replace(b"Agent/1.0 [en] (test)", b"x" * 32768)
        self.write("long.log", fits + over + GOOD)
        self.assertEqual(self.converted(3, 1, "long.log", "e.xlsx"), self.run_in("long.log", "e.xlsx"))
        self.assertEqual([("Zugriffe", [HEADER] + cells(fits + GOOD))], workbook(self.read("e.xlsx")))
        self.assertEqual(self.converted(3, 0, "long.log", "e.csv"), self.run_in("long.log", "e.csv"))
        # Text that looks like the form _xHHHH_, before what the workbook
        # writes in that form itself, reads back as the log has it; so does
        # a carriage return, which a parser would read as a line feed.
        hostile = b"".join(GOOD.replace(b"Agent/1.0 [en] (test)", agent)
                           for agent in (b"_x0041\x01", b"_x0041\xef\xbf\xbe", b"_x00411_", b"_x004",
                                         b"__x0041_x0042_", b"_X0041_", b"_x0041", b"a\rcarriage return"))
        self.write("hostile.log", hostile)
        self.assertEqual(self.converted(8, 0, "hostile.log", "f.xlsx"), self.run_in("hostile.log", "f.xlsx"))
        self.assertEqual([("Zugriffe", [HEADER] + cells(hostile))], workbook(self.read("f.xlsx")))
        import io
        # Zeit is a date where it has exactly the form servers write, of a
        # day that exists from 1900-03-01 on; its value the serial of the
        # local time as written, Zone the offset as written. Every other
        # Zeit stays text, and Zone empty. Each with its serial, by hand.
        times = [(b"[15/%s/2026:13:45:30 +0100]" % m.encode(), v) for m, v in (
            ("Jan", 46037.57326388889), ("Feb", 46068.57326388889), ("Mar", 46096.57326388889),
            ("Apr", 46127.57326388889), ("May", 46157.57326388889), ("Jun", 46188.57326388889),
            ("Jul", 46218.57326388889), ("Aug", 46249.57326388889), ("Sep", 46280.57326388889),
            ("Oct", 46310.57326388889), ("Nov", 46341.57326388889), ("Dec", 46371.57326388889))]
        times += [(b"[29/Feb/2024:00:00:00 -0500]", 45351.0), (b"[01/Mar/1900:00:00:00 +0000]", 61.0),
                  (b"[31/Dec/9999:23:59:59 +2359]", 2958465.999988426),
                  (b"[07/Dec/2026:10:00:00 +0100]", 46363.416666666664),
                  (b"[28/Feb/2023:23:59:59 -2300]", 44985.99998842592)]
        texts = [b"[29/Feb/2023:00:00:00 +0100]", b"[29/Feb/2100:00:00:00 +0100]",
                 b"[28/Feb/1900:12:00:00 +0100]",
                 b"[31/Apr/2026:10:00:00 +0100]", b"[07/Dec/2026:24:00:00 +0100]",
                 b"[07/Dec/2026:10:00:60 +0100]", b"[07/Dec/2026:10:60:00 +0100]",
                 b"[07/dec/2026:10:00:00 +0100]", b"[07/Dez/2026:10:00:00 +0100]",
                 b"[07/Dec/2026:10:00:00 +2400]", b"[07/Dec/2026:10:00:00 +0160]",
                 b"[07/Dec/2026:10:00:00 *0100]", b"[7/Dec/2026:10:00:00 +0100]",
                 b"[007/Dec/2026:10:00:00 +0100]", b"[07/Dec/2026:10:00:00.123 +0100]",
                 b"[00/Dec/2026:10:00:00 +0100]", b"[07/Dec/2026:10:00:00  0100]"]
        lines = b"".join(GOOD.replace(b"[07/Dec/2026:10:00:00 +0100]", t) for t, _ in times) + \
            b"".join(GOOD.replace(b"[07/Dec/2026:10:00:00 +0100]", t) for t in texts) + \
            GOOD.replace(b"- - [07/Dec/2026:10:00:00 +0100]", b"- [x] 07/Dec/2026:10:00:00+0100")
        self.write("times.log", lines)
        count = len(times) + len(texts) + 1
        self.assertEqual(self.converted(count, 0, "times.log", "g.xlsx"), self.run_in("times.log", "g.xlsx"))
        rows = workbook(self.read("g.xlsx"))[0][1][1:]
        self.assertEqual([HEADER] + cells(lines), workbook(self.read("g.xlsx"))[0][1])
        import datetime
        self.assertEqual([datetime.datetime] * len(times), [type(r[3]) for r in rows[:len(times)]])
        self.assertEqual([t[22:27].decode() for t, _ in times], [r[4] for r in rows[:len(times)]])
        self.assertEqual([t.decode() for t in texts] + ["07/Dec/2026:10:00:00+0100"],
                         [r[3] for r in rows[len(times):]])
        self.assertEqual([None] * (len(texts) + 1), [r[4] for r in rows[len(times):]])
        import zipfile
        sheet = zipfile.ZipFile(io.BytesIO(self.read("g.xlsx"))).read("xl/worksheets/sheet1.xml")
        serials = re.findall(rb'<c r="D\d+" s="2"><v>([^<]*)</v></c>', sheet)
        self.assertEqual([v for _, v in times], [float(v) for v in serials])
        # Each sheet's size is known only after it: its local header has a
        # zip64 extra field and says so (version 4.5), and the data
        # descriptor after it holds 8-byte sizes, those of the directory.
        import io
        import struct
        import zipfile
        data = self.read("f.xlsx")
        for info in zipfile.ZipFile(io.BytesIO(data)).infolist():
            head = struct.unpack("<IHHHHHIIIHH", data[info.header_offset:info.header_offset + 30])
            extra = data[info.header_offset + 30 + head[9]:info.header_offset + 30 + head[9] + head[10]]
            if info.filename.startswith("xl/worksheets/"):
                self.assertEqual((45, 8, 0xffffffff, 0xffffffff), (head[1], head[2], head[7], head[8]))
                self.assertEqual(struct.pack("<HHQQ", 1, 16, 0, 0), extra)
                end = info.header_offset + 30 + head[9] + head[10] + info.compress_size
                self.assertEqual(struct.pack("<IIQQ", 0x08074b50, info.CRC, info.compress_size,
                                             info.file_size), data[end:end + 24])
            else:
                self.assertEqual((20, 0, b""), (head[1], head[2], extra))

    def test_a_target_named_sqlite_is_a_database(self):
        # The sample and a log of hostile bytes into the table zugriffe, a
        # row for each accepted line keyed by its line number, the same
        # messages as for a CSV file. A second run makes the file anew; a
        # log that cannot be read leaves the empty table, and a read error
        # after some blocks the rows before it, committed.
        log = sample()
        want, faulty = reference(log)
        lines = log.count(b"\n")
        self.write("a.log", log)
        hostile = b"".join(GOOD.replace(b"Agent/1.0 [en] (test)", agent).replace(b"512", size)
                           for agent, size in ((b"\x00\x01\r\x1b[2J", b"0123"), (b"\xe4\x80\x9f", b"-"),
                                               (b"\xc3\xa4 \xf0\x9f\x98\x80 \xed\xa0\x80", b"1234567890123456"),
                                               (b"", b"999999999999999"), (b"'); DROP TABLE zugriffe; --", b"0")))
        hostile += BAD + GOOD.replace(b'"-" "Agent', b'"=1+1" "Agent')
        self.write("hostile.log", hostile)
        for source, target, count, bad, content in (
                ("a.log", "a.sqlite", lines, faulty, log),
                ("hostile.log", "a.sqlite", 7, 1, hostile),  # made anew, not added to
                ("a.log", "B.DB", lines, faulty, log), ("hostile.log", "c.Sqlite3", 7, 1, hostile)):
            self.assertEqual(self.converted(count, bad, source, target), self.run_in(source, target))
            self.assertEqual((records(content), b"ok"), database(self.path(target)), (source, target))
        self.assertEqual(want.count(b"\n"), len(records(log)))
        self.assertEqual(text(NOSOURCE % ("missing.log", MISSING)), self.run_in("missing.log", "d.db"))
        self.assertEqual(([], b"ok"), database(self.path("d.db")))
        big = self.cut("e.db")
        made, verdict = database(self.path("e.db"))
        self.assertEqual(b"ok", verdict)
        self.assertGreater(len(made), 1000)
        self.assertEqual(records(big)[:len(made)], made)

    def test_a_database_is_replaced_only_where_it_is_ours(self):
        # A file that holds anything but the table zugriffe (and what a user
        # built on it) is another application's: refused, byte for byte as
        # it was. A name that begins with "file:" is a file's name, as for
        # every target, not a URI.
        import sqlite3
        self.write("a.log", GOOD * 2)
        con = sqlite3.connect(self.path("kunden.db"))
        con.executescript("CREATE TABLE kunden (name); CREATE TABLE rechnungen (betrag);"
                          "INSERT INTO kunden VALUES ('Meier');")
        con.close()
        shutil.copy(self.path("kunden.db"), self.path("app.sqlite"))
        self.write("notizen.db", b"Einkaufen: Brot, Milch\n")
        self.write("empty.sqlite3", b"")
        self.run_in("a.log", "ours.db")
        con = sqlite3.connect(self.path("ours.db"))
        con.executescript("CREATE INDEX wer ON zugriffe (adresse); CREATE VIEW fehler AS "
                          "SELECT * FROM zugriffe WHERE status >= 400; ANALYZE;")
        con.close()
        foreign = ("Die Datei enthaelt andere Daten als die Tabelle zugriffe; bitte einen anderen "
                   "Namen waehlen oder die Datei zuerst loeschen")
        for target in ("kunden.db", "notizen.db"):
            before = self.read(target)
            self.assertEqual(text(NOTARGET % (target, foreign)), self.run_in("a.log", target))
            self.assertEqual(before, self.read(target), target)
        names = ["ours.db", "empty.sqlite3"]
        if not WINDOWS:  # a colon names a stream of a file there
            names += ["file:app.sqlite", "file:y.sqlite", "file:m?mode=memory&x=.sqlite"]
        for target in names:
            self.assertEqual(self.converted(2, 0, target=target), self.run_in("a.log", target))
            self.assertEqual((records(GOOD * 2), b"ok"), database(self.path(target)), target)
        con = sqlite3.connect(self.path("ours.db"))
        self.assertEqual([("table", "zugriffe")], con.execute("SELECT type, name FROM sqlite_schema").fetchall())
        con.close()
        self.assertEqual(self.read("kunden.db"), self.read("app.sqlite"))
        self.assertFalse(os.path.exists(self.path("y.sqlite")))

    def test_a_database_another_program_holds_is_left_as_it_was(self):
        # Another program holds the database: a reader in a transaction, a
        # reader of a database in WAL mode, a writer in an exclusive
        # transaction. The run refuses it before anything is changed, and
        # the other program's transaction goes on unharmed. Once it is let
        # go the run replaces it, and leaves nothing but the database. The
        # other program is a process of its own: POSIX locks are a
        # process's, and this one's reads of the file would end them.
        self.write("a.log", GOOD * 3)
        self.write("b.log", GOOD)
        inuse = "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet"
        for how in ("reader", "wal", "writer"):
            self.run_in("a.log", "a.db")
            other = subprocess.Popen([sys.executable, "-c", HOLDER, self.path("a.db"), how],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            self.assertEqual(b"3\n", other.stdout.readline(), how)
            before = self.read("a.db")
            self.assertEqual(text(NOTARGET % ("a.db", inuse)), self.run_in("b.log", "a.db"), how)
            self.assertEqual(before, self.read("a.db"), how)
            out = other.communicate(b"\n", timeout=60)[0]
            self.assertEqual(b"ok %d\n" % (3 + (how == "writer")), out, how)
            if how == "wal":  # the holder left its WAL file and shared memory
                self.assertTrue(os.path.exists(self.path("a.db-shm")))
            self.assertEqual(self.converted(1, 0, "b.log", "a.db"), self.run_in("b.log", "a.db"), how)
            self.assertEqual((records(GOOD), b"ok"), database(self.path("a.db")), how)
            self.assertEqual([], [n for n in os.listdir(self.dir) if n.startswith("a.db-")], how)

    @unittest.skipUnless(POSIX, "signals of this system")
    def test_a_killed_run_leaves_the_database_of_its_last_commit(self):
        # A killed run leaves a database that opens, with the rows of the
        # lines up to its last commit: a commit comes every 64 MiB of the
        # log, so a log of 73 MB that then stops coming is committed once,
        # and the commit shows in the change counter of the file's header.
        big = GOOD * 700000  # 73 MB
        with open(self.path("a.db"), "wb"):
            pass
        p = subprocess.Popen([PROGRAM, "/dev/stdin", "a.db"], cwd=self.dir,
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)

        def counter():
            with open(self.path("a.db"), "rb") as f:
                return f.read(28)[24:28]
        until("the database to be made", lambda: len(counter()) == 4)
        made = counter()
        p.stdin.write(big)
        p.stdin.flush()
        until("a commit", lambda: counter() != made, 120)
        p.kill()
        p.wait()
        p.stdin.close()
        rows, verdict = database(self.path("a.db"))
        self.assertEqual(b"ok", verdict)
        self.assertGreater(len(rows), 0)
        one = records(GOOD)[0]
        self.assertEqual([(i + 1,) + one[1:] for i in range(len(rows))], rows)

    @unittest.skipUnless(POSIX, "FIFOs, devices and file systems of this system")
    def test_a_database_needs_a_file_with_room(self):
        # A FIFO or a device cannot hold a database: the target's message at
        # once, and nothing converted. The FIFO is not opened for writing,
        # which would wait for a reader (none comes here). A full disk gives
        # the target's message after the summary.
        self.write("a.log", GOOD * 3)
        os.mkfifo(self.path("f.db"))
        notfile = "Eine Datenbank braucht eine gewoehnliche Datei, keine Pipe und kein Geraet"
        self.assertEqual(text(NOTARGET % ("f.db", notfile)), self.run_in("a.log", "f.db", timeout=60))
        os.symlink("/dev/full", self.path("full.sqlite"))
        self.assertEqual(text(NOTARGET % ("full.sqlite", notfile)), self.run_in("a.log", "full.sqlite"))
        # A full disk: a file system of 1 MiB, where root may mount one.
        os.mkdir(self.path("small"))
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.path("small")],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("needs root's right to mount a small file system")
        self.addCleanup(subprocess.run, ["umount", self.path("small")])
        self.write("b.log", GOOD * 30000)
        out = self.run_in("b.log", "small/b.db")
        self.assertEqual(self.converted(30000, 0, "b.log", "small/b.db") +
                         text(NOTARGET % ("small/b.db", "Kein Platz mehr auf dem Datentraeger")), out)

    def test_a_full_disk_at_the_last_write_and_on_the_way_is_told(self):
        # A file system of 64 KiB, where root may mount one: a CSV and a
        # workbook that fit the buffer they are written through fail only
        # at the last write, when they are closed. Some run-times (Wine's)
        # say that the close succeeded; the run tells it all the same. A
        # CSV of several buffers fails on the way, in a write that took only
        # a part (where Windows' run-time says EINVAL), and the rest of the
        # log is not read. (Wine's drive Z: is the whole file system, so
        # there the small one is a drive too.)
        os.mkdir(self.path("small"))
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", self.path("small")],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("needs root's right to mount a small file system")
        self.addCleanup(subprocess.run, ["umount", self.path("small")])
        lines = [GOOD.replace(b"(test)", os.urandom(40).hex().encode()) for _ in range(3000)]
        self.write("a.log", b"".join(lines))  # 400 KB, a workbook of about 150 KB
        for target in ("small/a.csv", "small/a.xlsx"):
            out = self.run_in("a.log", target)
            self.assertEqual(self.converted(3000, 0, target=target) +
                             text(NOTARGET % (target, "Kein Platz mehr auf dem Datentraeger")), out)
            os.unlink(self.path(target))
        log = b"".join(lines) * 8  # 3.2 MB: a CSV of more than two blocks and buffers
        self.write("a.log", log)
        read = self.given_up(self.run_in("a.log", "small/a.csv"), log,
                             "Kein Platz mehr auf dem Datentraeger", "small/a.csv")
        self.assertLess(read, len(lines) * 8)

    def test_logs_in_formats_not_read_are_refused(self):
        # Told by their first bytes, whatever their names: read as bytes,
        # they would give an empty CSV and a count of lines that are none
        # (lzop's, pieces of lines behind binary bytes). Each with its cause.
        import gzip
        import io
        import zipfile
        log = sample()
        notread = "Das Logfile ist mit %s komprimiert; dieses Format liest Zettrik nicht"
        twice = "Die entpackten %s-Daten sind noch einmal komprimiert"
        made = {"a.lz4": (packed("lz4", log), notread % "lz4"),
                "a.lzo": (packed("lzop", log), notread % "lzop")}
        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("access.log", log)
        made["a.zip"] = (archive.getvalue(), notread % "zip")
        made["a.7z"] = (b"7z\xbc\xaf\x27\x1c\x00\x04" + log[:200], notread % "7z")  # the signature header
        made["a.Z"] = (b"\x1f\x9d\x90" + log[:200], notread % "compress")  # magic and flags
        # A log compressed twice, or a compressed archive: the decoded bytes
        # are no log either.
        made["twice.gz"] = (gzip.compress(gzip.compress(log)), twice % "gzip")
        made["xz.gz"] = (gzip.compress(packed("xz", log)), twice % "gzip")
        made["gz.zst"] = (packed("zstd", gzip.compress(log)), twice % "zstd")
        made["zip.bz2"] = (packed("bzip2", archive.getvalue()), twice % "bzip2")
        made["lzo.lz"] = (packed("lzip", packed("lzop", log)), twice % "lzip")
        made["bz2.lzma"] = (packed("xz", packed("bzip2", log), "--format=lzma"), twice % "lzma")
        # More memory than a log may ask for: a zstd window above 128 MiB
        # (from a pipe, --long=31 keeps its 2 GiB window), an xz dictionary
        # above 256 MiB. They are refused rather than allocated.
        made["window.zst"] = (packed("zstd", log, "--long=31"),
                              "Der zstd-Rahmen verlangt ein Fenster ueber 128 MiB")
        made["dictionary.xz"] = (dictionary(packed("xz", log), 33),
                                 "Die xz-Daten verlangen ein Woerterbuch ueber 256 MiB")
        made["dictionary.lzma"] = (packed("xz", log, "--format=lzma", "--lzma1=dict=512MiB"),
                                   "Die lzma-Daten verlangen ein Woerterbuch ueber 256 MiB")
        # A compressed file cut within its magic is damaged, as its own tool
        # says: from two bytes on. gzip's magic is two bytes, and a member
        # cut after them is cut short.
        made["2.a.gz"] = (gzip.compress(log)[:2], damage("cut", "gzip", 2))
        for name, tool, data in (("a.zst", "zstd", packed("zstd", log)),
                                 ("a.xz", "xz", packed("xz", log)),
                                 ("a.bz2", "bzip2", packed("bzip2", log)),
                                 ("a.lz", "lzip", packed("lzip", log)),
                                 ("a.lzma", "lzma", packed("xz", log, "--format=lzma"))):
            for n in range(2, {"zstd": 4, "xz": 6, "lzip": 5, "bzip2": 10, "lzma": 13}[tool]):
                made["%d.%s" % (n, name)] = (data[:n], damage("magic", tool, n))
        for name, (data, why) in made.items():
            self.write(name, data)
            self.write("a.csv", b"old\n")
            self.assertEqual(self.converted(0, 0, name) + text(NOSOURCE % (name, why)),
                             self.run_in(name, "a.csv"), name)
            self.assertEqual(b"", self.read("a.csv"), name)

    def test_damage_is_reported_after_the_lines_before_it(self):
        # With its cause: where the bytes at the damage depend on how much a
        # library reads ahead, only the kind of damage is held.
        import gzip
        import zlib
        log = GOOD * 20000  # 2 MB: more than one block
        data = gzip.compress(log)
        middle = len(data) // 2
        for why, at, damaged, told in (
                ("cut short", middle, data[:middle], re.escape(damage("cut", "gzip", middle))),
                ("corrupt", middle, data[:middle] + bytes([data[middle] ^ 0xff]) + data[middle + 1:],
                 "(%s|%s)" % tuple(re.escape(damage(k, "gzip", 0)).replace("0", "[0-9.]+")
                                   for k in ("corrupt", "checksum"))),
                ("bad checksum", len(data) - 8, data[:-8] + bytes([data[-8] ^ 1]) + data[-7:],
                 re.escape(damage("checksum", "gzip", len(data)))),
                ("garbage after", len(data), data + b"not gzip\n",
                 re.escape(damage("after", "gzip", len(data))))):
            # What comes out before the damage is found: up to near it at
            # once, from there a byte at a time.
            inflate = zlib.decompressobj(16 + 15)
            before = inflate.decompress(damaged[:at - 64])
            try:
                for i in range(at - 64, len(damaged)):
                    before += inflate.decompress(damaged[i:i + 1])
            except zlib.error:
                pass
            want, faulty = reference(before)
            self.write("a.log.gz", damaged)
            out = self.run_in("a.log.gz", "a.csv")
            failed = text(NOSOURCE % ("a.log.gz", ""))[:-len(EOL)]
            self.assertEqual(self.converted(before.count(b"\n"), faulty, "a.log.gz") + failed,
                             out[:out.rindex(failed) + len(failed)], why)
            self.assertRegex(out[out.rindex(failed) + len(failed):].decode(), "^%s\r?\n$" % told, why)
            self.assertEqual(csv(want), self.read("a.csv"), why)
        # zstd, xz, lzip, lzma and bzip2, a frame or stream cut short, with
        # something after it, or with a byte changed: what their own tools
        # decode ahead of the damage is converted, and where the data before
        # it is whole, nothing else; lines made just before damage that only
        # a checksum reveals may hold damaged bytes. Bytes after the data are
        # told from where they begin: xz's zeros in fours are padding.
        lines = log.split(b"\n")
        for tool, command in (("zstd", ["zstd"]), ("xz", ["xz"]), ("lzip", ["lzip"]),
                              ("lzma", ["xz", "--format=lzma"]), ("bzip2", ["bzip2"])):
            data = packed(command[0], log, *command[1:])
            middle = len(data) // 2
            padding = 4 if tool == "xz" else 0
            anything = "(%s|%s|%s)" % tuple(re.escape(damage(k, tool, 0)).replace("0", "[0-9.]+")
                                            for k in ("corrupt", "checksum", "cut"))
            for why, at, damaged, whole, told in (
                    ("cut short", middle, data[:middle], True, re.escape(damage("cut", tool, middle))),
                    ("garbage after", len(data), data + b"\0\0\0\0this is not %s data\n" % tool.encode(), True,
                     re.escape(damage("after", tool, len(data) + padding))),
                    ("corrupt", middle, data[:middle] + bytes([data[middle] ^ 0x55]) +
                     data[middle + 1:], False, anything)):
                before = subprocess.run(command + ["-d", "-c", "-q"], input=damaged[:at],
                                        stdout=subprocess.PIPE).stdout
                name = "a.log." + tool
                self.write(name, damaged)
                out = self.run_in(name, "a.csv")
                start = text(START % (name, "a.csv"))
                self.assertTrue(out.startswith(start), (tool, why, out[:200]))
                count = out.index(text(SUMMARY % 0)[:20]) - len(start)
                want, faulty = reference(b"\n".join(lines[:count]) + b"\n")
                if not whole:  # the lines may be damaged, and counted otherwise
                    faulty = int(out[len(start) + count:].split()[2])
                failed = text(NOSOURCE % (name, ""))[:-len(EOL)]
                self.assertEqual(start + frames(count) + text(SUMMARY % faulty) + failed,
                                 out[:out.rindex(failed) + len(failed)], (tool, why))
                self.assertRegex(out[out.rindex(failed) + len(failed):].decode(),
                                 "^%s\r?\n$" % told, (tool, why))
                made = self.read("a.csv")
                self.assertTrue(made.startswith(csv(reference(before)[0])), (tool, why))
                if whole:
                    self.assertEqual(csv(want), made, (tool, why))

    def test_long_lines(self):
        pad = 65535 - len(GOOD)
        longest = GOOD.replace(b"Agent", b"x" * pad + b"Agent")
        self.assertEqual(65535, len(longest))
        longer = GOOD.replace(b"Agent", b"x" * (pad + 1) + b"Agent")
        self.write("a.log", longest + longer + GOOD)
        out = self.run_in("a.log", "a.csv")
        self.assertEqual(self.converted(3, 1), out)
        self.assertEqual(csv(GOODCSV.replace(b"Agent", b"x" * pad + b"Agent") + GOODCSV),
                         self.read("a.csv"))

    def test_zero_bytes_are_written_whole(self):
        line = GOOD.replace(b"Agent", b"Ag\0ent")
        self.write("a.log", line + GOOD)
        self.assertEqual(self.converted(2, 0), self.run_in("a.log", "a.csv"))
        self.assertEqual(csv(GOODCSV.replace(b"Agent", b"Ag\0ent") + GOODCSV),
                         self.read("a.csv"))


@unittest.skipUnless(POSIX, "POSIX file names")
class Posix(Case):
    def test_carriage_returns_are_kept(self):
        self.write("a.log", GOOD.replace(b"\n", b"\r\n") * 2)
        self.assertEqual(self.converted(2, 0), self.run_in("a.log", "a.csv"))
        self.assertEqual(GOODCSV.replace(b"\n", b"\r\n") * 2, self.read("a.csv"))

    def test_full_disk_is_reported_after_the_summary(self):
        # The CSV fails at its first write, and the rest of the log is not
        # read. A workbook waits in its buffer of a megabyte, which this log
        # about fills (how much it packs to depends on the deflater's code
        # for the CPU), and fails on the way or at its end.
        os.symlink("/dev/full", self.path("full.xlsx"))
        for lines in (3, 30000):
            log = GOOD * lines
            self.write("a.log", log)
            for target in ("/dev/full", "full.xlsx"):
                out = self.run_in("a.log", target)
                read = self.given_up(out, log, "Kein Platz mehr auf dem Datentraeger", target)
                if lines == 3:
                    self.assertEqual(lines, read)
                elif target == "/dev/full":
                    self.assertLess(read, lines)

    def test_read_error_is_reported_after_the_summary(self):
        # Reading a process's own memory from offset 0 fails at once.
        out = self.run_in("/proc/self/mem", "a.csv")
        self.assertEqual(self.converted(0, 0, source="/proc/self/mem") +
                         text(NOSOURCE % ("/proc/self/mem", "Ein-/Ausgabefehler des Datentraegers")), out)

    def test_source_from_a_pipe(self):
        # A real pipe whose first bytes come one at a time, as a slow one may
        # hand them over: the magic and the header of a gzip log must be
        # read whole, whatever the pieces.
        import gzip
        import threading
        log = sample()
        want, faulty = reference(log)
        for data, made, lines, bad in ((GOOD + BAD, GOODCSV, 2, 1),
                                       (gzip.compress(log), want, log.count(b"\n"), faulty),
                                       (member(log, 31), want, log.count(b"\n"), faulty)):
            p = subprocess.Popen(EMULATOR + [PROGRAM, "/dev/stdin", "a.csv"], cwd=self.dir,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE)

            def feed():
                # Each byte once the one before is taken, so that each is
                # read on its own.
                for i in range(12):
                    p.stdin.write(data[i:i + 1])
                    p.stdin.flush()
                    until("byte %d to be read" % i, lambda: pending(p.stdin.fileno()) == 0)
                p.stdin.write(data[12:])
                p.stdin.close()
            writer = threading.Thread(target=feed)
            writer.start()
            out = p.stdout.read()
            writer.join()
            self.assertEqual(0, p.wait())
            self.assertEqual(self.converted(lines, bad, source="/dev/stdin"), after_banner(out))
            self.assertEqual(made, self.read("a.csv"))


@unittest.skipUnless(WINDOWS, "Windows line ends and start-up code")
class Windows(Case):
    def test_crlf_in_crlf_out(self):
        self.write("a.log", (GOOD + BAD + GOOD).replace(b"\n", b"\r\n"))
        self.assertEqual(self.converted(3, 1), self.run_in("a.log", "a.csv"))
        self.assertEqual(b"".join([GOODCSV.replace(b"\n", b"\r\n")] * 2), self.read("a.csv"))

    def test_a_lone_cr_is_an_ordinary_byte(self):
        line = GOOD.replace(b"Agent", b"Ag\rent").replace(b"\n", b"\r\r\n")
        self.write("a.log", line + b"\r")
        self.assertEqual(self.converted(1, 0), self.run_in("a.log", "a.csv"))
        self.assertEqual(GOODCSV.replace(b"Agent", b"Ag\rent").replace(b"\n", b"\r\r\n"),
                         self.read("a.csv"))

    def test_0x1a_does_not_end_the_log(self):
        self.write("a.log", GOOD + b"\x1a\r\n" + GOOD.replace(b"Agent", b"Ag\x1aent"))
        self.assertEqual(self.converted(3, 1), self.run_in("a.log", "a.csv"))
        self.assertEqual(csv(GOODCSV + GOODCSV.replace(b"Agent", b"Ag\x1aent")), self.read("a.csv"))

    def test_the_cr_of_a_line_end_is_not_counted_in_the_length(self):
        pad = 65535 - len(GOOD)
        longest = GOOD.replace(b"Agent", b"x" * pad + b"Agent").replace(b"\n", b"\r\n")
        longer = GOOD.replace(b"Agent", b"x" * (pad + 1) + b"Agent").replace(b"\n", b"\r\n")
        self.write("a.log", longest + longer)
        self.assertEqual(self.converted(2, 1), self.run_in("a.log", "a.csv"))
        self.assertEqual(csv(GOODCSV.replace(b"Agent", b"x" * pad + b"Agent")), self.read("a.csv"))

    def files(self):
        return {name: self.read(name) for name in os.listdir(self.dir)}

    def test_patterns_are_expanded_but_never_choose_the_target(self):
        # A pattern in the log's place is the one file it matches, or the
        # name as typed where it matches none; one that matches several, and
        # any in the target's place, give the usage message. The prefixes
        # \\?\ and \\.\ are no patterns.
        self.write("access.log", GOOD)
        self.write("access.csv", csv(GOODCSV + GOODCSV))
        self.write("other.log", BAD)
        files = self.files()
        for argv in (["access.*"], ["*.log"], ["*.log", "out.csv"], ["access.log", "*.csv"],
                     ["access.log", "acc?ss.csv"]):
            self.assertEqual(text(USAGE % (INVOKED, INVOKED)), self.run_in(*argv), argv)
            self.assertEqual(files, self.files(), argv)
        here = "Z:" + self.dir.replace("/", "\\")
        for source, target, shown in (("acc*.log", "out.csv", "access.log"),
                                      ("access.log", "\\\\?\\" + here + "\\out.csv", "access.log"),
                                      ("\\\\?\\" + here + "\\acc*.log", "out.csv",
                                       "\\\\?\\" + here + "\\access.log")):
            self.assertEqual(self.converted(1, 0, source=shown, target=target),
                             self.run_in(source, target))
            self.assertEqual(dict(files, **{"out.csv": csv(GOODCSV)}), self.files())
        self.assertEqual(text(NOSOURCE % ("x*.log", "Ungueltiger Name oder ungueltige Datei")), self.run_in("x*.log", "out.csv"))
        self.assertEqual(dict(files, **{"out.csv": b""}), self.files())

    def typed(self, line):
        """Runs zettrik.exe, copied here, from a batch file under cmd with
        line as typed (the command line reaches it exactly so), and returns
        its output after the banner and the files here but the batch file."""
        with open(self.path("run.bat"), "wb") as f:
            f.write(b"@" + line.encode() + b"\r\n")
        p = subprocess.run(EMULATOR + ["cmd", "/c", "run.bat"], cwd=self.dir,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
        os.unlink(self.path("run.bat"))
        return after_banner(p.stdout), self.files()

    def test_one_split_of_the_command_line(self):
        # Quotes that two splits of a command line take differently: the
        # start-up code's split with its expansion made the first two
        # convert access.log into error.log or empty the only .csv here.
        # Whatever the quoting, only a file named literally may be written.
        self.write("access.log", GOOD)
        self.write("error.log", GOOD + BAD)
        self.write("out.csv", b"kept\n")
        shutil.copy(PROGRAM, self.path("zettrik.exe"))
        files = self.files()
        invalid = "Ungueltiger Name oder ungueltige Datei"
        for line, shown in (('zettrik.exe" " *.log" "',
                             NOSOURCE % (" *.log", invalid) + NOTARGET % ("", MISSING)),
                            ('zettrik.exe """" *.csv" "',
                             NOSOURCE % ('" *.csv', invalid) + NOTARGET % ("", MISSING)),
                            ('zettrik.exe" " a.log *.csv" "',
                             NOSOURCE % (" a.log *.csv", invalid) + NOTARGET % ("", MISSING))):
            self.assertEqual((text(shown), files), self.typed(line), line)

    @unittest.skipUnless(os.environ.get("ZETTRIK_HOLD"), "needs tests/hold.cpp, built beside")
    def test_a_log_held_open_by_its_server(self):
        # Held for writing without read sharing, the log cannot be read, and
        # is told as held; and it is still known as the log: named twice,
        # it is not emptied.
        # A database held so by another program is refused before anything
        # in it is changed.
        self.write("held.log", GOOD)
        hold = os.environ["ZETTRIK_HOLD"]
        for target, shown in (("held.log", SAME % ("held.log", "held.log")),
                              ("a.csv", NOSOURCE % ("held.log", "Das Logfile ist von einem anderen Programm geoeffnet"))):
            self.assertEqual(text(shown),
                             zettrik("held.log", INVOKED, "held.log", target, cwd=self.dir,
                                     program=hold))
            self.assertEqual(GOOD, self.read("held.log"))
        self.write("a.log", GOOD * 2)
        self.run_in("a.log", "a.db")
        before = self.read("a.db")
        self.assertEqual(text(NOTARGET % ("a.db", "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet")),
                         zettrik("a.db", INVOKED, "held.log", "a.db", cwd=self.dir, program=hold))
        self.assertEqual(before, self.read("a.db"))
        # The console as the target while the output goes elsewhere: a
        # device that takes nothing from this program.
        for target in ("CONOUT$", "con.csv"):
            told = text(NOTARGET % (target, "Das Geraet ist nicht erreichbar"))
            out = self.run_in("a.log", target)
            self.assertEqual(told, out[-len(told):], out)

    def test_names_outside_the_ansi_code_page_mean_exactly_that_file(self):
        # Each name opens the file of that name or none: never a look-alike.
        self.write("Lódz.csv", b"unrelated\n")
        self.write("access.log", GOOD)
        self.write("журнал.log", GOOD + BAD)
        self.write("🦊.log", GOOD)
        files = self.files()
        for source, target, lines, faulty, made in (
                ("access.log", "Łódź.csv", 1, 0, csv(GOODCSV)),
                ("журнал.log", "отчёт.csv", 2, 1, csv(GOODCSV)),
                ("🦊.log", "🦊.csv", 1, 0, csv(GOODCSV)),
                ("ａccess.log", "x.csv", None, None, b"")):
            out = self.run_in(source, target)
            if lines is None:
                self.assertEqual(text(NOSOURCE % (source, MISSING)), out)
            else:
                self.assertEqual(self.converted(lines, faulty, source, target), out)
            files[target] = made
            self.assertEqual(files, self.files(), source)

    def test_a_hard_link_is_the_same_file(self):
        self.write("a.log", GOOD)
        os.link(self.path("a.log"), self.path("a.csv"))
        self.assertEqual(text(SAME % ("a.csv", "a.log")), self.run_in("a.log", "a.csv"))
        self.assertEqual(GOOD, self.read("a.log"))
        # Reached through two drive letters, C: and Z:, Wine shows one file
        # under two volume serials: the same id, size and time of the last
        # write still make it one file.
        prefix = next((a[len("WINEPREFIX="):] for a in EMULATOR if a.startswith("WINEPREFIX=")), None)
        if prefix is None:
            self.skipTest("needs Wine's prefix for its drive C:")
        folder = tempfile.mkdtemp(prefix="zettrik-e2e-", dir=os.path.join(prefix, "drive_c"))
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, "a.log"), "wb") as f:
            f.write(GOOD)
        os.link(os.path.join(folder, "a.log"), os.path.join(folder, "b.csv"))
        source = "C:\\%s\\a.log" % os.path.basename(folder)
        target = "Z:" + os.path.join(folder, "b.csv").replace("/", "\\")
        self.assertEqual(text(SAME % (target, source)), self.run_in(source, target))
        self.assertEqual(GOOD, self.read(os.path.join(folder, "a.log")))

    def test_the_format_follows_the_name_that_is_opened(self):
        # Windows drops the dots and spaces at the end of a name as it opens
        # it: out.xlsx. is out.xlsx, a workbook.
        self.write("a.log", GOOD)
        for name in ("out.xlsx.", "out.xlsx . ", "OUT.XLSX.."):
            self.assertEqual(self.converted(1, 0, target=name), self.run_in("a.log", name), name)
            opened = name.rstrip(". ")
            self.assertEqual([("Zugriffe", [HEADER] + cells(GOOD))], workbook(self.read(opened)), name)
            os.unlink(self.path(opened))


def tmux(*argv, **kw):
    # CI may run without a TERM; tmux wants one to describe its own screen,
    # and a UTF-8 locale to show names beyond ASCII.
    env = dict(os.environ, TERM=os.environ.get("TERM") or "xterm", LC_ALL="C.UTF-8")
    return subprocess.run(["tmux", "-L", "zettrik-e2e-%d" % os.getpid()] + list(argv),
                          check=True, stdout=subprocess.PIPE, timeout=120, env=env, **kw).stdout


class Terminal(Case):
    """On a terminal every frame is drawn at column 0 and the cursor put back
    there, so the summary is finally printed over the last frame."""

    @unittest.skipUnless(POSIX, "a pseudo-terminal of this system")
    def test_each_block_draws_its_last_frame_at_column_0(self):
        # The frames a block would draw before its last are overwritten
        # before anyone sees them: only the last reaches the terminal, and
        # the index has advanced once a line, as a frame a line leaves it.
        self.write("a.log", (GOOD * 3 + BAD) * 25)
        shown = onpty(["a.log", "a.csv"], self.dir)
        spun = frames(100)[-1:] + b"\r"
        self.assertEqual((START % ("a.log", "a.csv")).encode().replace(b"\n", b"\r\n") + spun +
                         (SUMMARY % 25).encode().replace(b"\n", b"\r\n"), shown)
        # A log of 100 MB, a hundred blocks and more: a frame and a return
        # for each, where a frame a line sent 1.9 MB to draw.
        lines = 100 * 10**6 // len(GOOD) // 4 * 4 + 3
        self.write("b.log", GOOD * lines)
        shown = onpty(["b.log", "b.csv"], self.dir)
        self.assertLess(len(shown), 65536)
        summary = (SUMMARY % 0).encode().replace(b"\n", b"\r\n")
        self.assertTrue(shown.endswith(frames(lines)[-1:] + b"\r" + summary), shown[-200:])
        start = (START % ("b.log", "b.csv")).encode().replace(b"\n", b"\r\n")
        self.assertTrue(shown.startswith(start))
        self.assertEqual(set(b"\\|/-\r"), set(shown[len(start):-len(summary)]))

    @unittest.skipUnless(POSIX, "a pseudo-terminal of this system")
    def test_each_frame_shows_before_the_next_line_comes(self):
        # A log that grows a line at a time, as a live one does: each line's
        # frame reaches the terminal while the program waits for the next.
        import pty
        import select
        os.mkfifo(self.path("slow.log"))
        master, slave = pty.openpty()
        p = subprocess.Popen(EMULATOR + [PROGRAM, "slow.log", "a.csv"], cwd=self.dir, stdout=slave)
        os.close(slave)
        start = text(START % ("slow.log", "a.csv")).replace(b"\n", b"\r\n")
        seen = b""
        with open(self.path("slow.log"), "wb", buffering=0) as w:
            for line in range(1, 4):
                w.write(GOOD)
                while start not in seen or len(seen.split(start)[1]) < 2 * line:
                    ready, _, _ = select.select([master], [], [], 60)
                    self.assertTrue(ready, "no frame for line %d: %r" % (line, seen))
                    seen += os.read(master, 4096)
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        os.close(master)
        self.assertEqual(0, p.wait())
        self.assertEqual(b"\\\r|\r/\r" + text(SUMMARY % 0).replace(b"\n", b"\r\n"),
                         seen.split(start)[1])

    @unittest.skipUnless(shutil.which("tmux"), "needs tmux")
    def test_final_screen_shows_the_summary_over_the_last_frame(self):
        self.write("a.log", (GOOD * 3 + BAD) * 2500)
        done = "zettrik-done-%d" % os.getpid()
        # Then the console itself as the target, by its names on Windows:
        # CONOUT$, and the reserved name CON with any extension.
        screens = ["CONOUT$", "con", "con.csv", "CON.txt"] if WINDOWS else ["/dev/stdout"]
        command = "; ".join([" ".join(EMULATOR + [PROGRAM, "a.log", "Łódź.csv"])] +
                            [" ".join(EMULATOR + [PROGRAM, "a.log", "'%s'" % screen])
                             for screen in screens])
        tmux("new-session", "-d", "-x", "100", "-y", "40", "-c", self.dir,
             "%s; tmux -L zettrik-e2e-%d wait-for -S %s; sleep 600" % (command, os.getpid(), done))
        self.addCleanup(tmux, "kill-server")
        tmux("wait-for", done)
        shown = tmux("capture-pane", "-p").decode().split("\n")
        self.assertTrue(shown[0].startswith("Zettrik - EXPERIMENTELLE Version (Build "), shown)
        self.assertEqual(["Konvertiere Logfile 'a.log' nach CSV-Datei 'Łódź.csv':", "",
                          "Fehlerhafte Logfile-Zeilen: 2500 !!!"], shown[2:5])
        for i, screen in enumerate(screens):  # each after its banner's two lines
            self.assertEqual(["", "FEHLER: Zieldatei '%s' (CSV-Datei) ist die Standardausgabe!" % screen],
                             shown[7 + 4 * i:9 + 4 * i])
        self.assertEqual(csv(GOODCSV * 7500), self.read("Łódź.csv"))
        self.assertEqual(["a.log", "Łódź.csv"], sorted(os.listdir(self.dir)))


    @unittest.skipUnless(shutil.which("tmux"), "needs tmux")
    def test_ctrl_c_on_the_console_ends_the_run_in_order(self):
        # Ctrl+C typed on the console while a log streams in through a FIFO:
        # the CSV holds whole lines, the summary and the cause follow, and
        # the shell sees the exit of Ctrl+C (130 on Linux; under Wine the
        # low byte of 0xC000013A, 58). The log goes on coming until the
        # program has ended, so the run cannot end before Ctrl+C is taken.
        import threading
        done = "zettrik-done-%d" % os.getpid()
        os.mkfifo(self.path("slow.log"))
        command = " ".join(EMULATOR + [PROGRAM, "slow.log", "a.csv"])
        tmux("new-session", "-d", "-x", "100", "-y", "20", "-c", self.dir,
             # The shell that runs it takes Ctrl+C as well: trapped, it goes on.
             "trap : INT; %s; echo EXIT=$?; tmux -L zettrik-e2e-%d wait-for -S %s; sleep 600" %
             (command, os.getpid(), done))
        self.addCleanup(tmux, "kill-server")

        def feed():
            try:
                with open(self.path("slow.log"), "wb") as w:
                    while True:
                        w.write(GOOD * 1000)
            except BrokenPipeError:
                pass
        feeder = threading.Thread(target=feed)
        feeder.start()
        until("the start message", lambda: b"Konvertiere" in tmux("capture-pane", "-p"))
        tmux("send-keys", "C-c")
        tmux("wait-for", done)
        feeder.join()
        # Under valgrind a process that ends by a signal has its memory
        # still held (a thread's stack, say): its report (==PID==) is left
        # out, its long lines joined where the pane wrapped them (-J).
        shown = [line for line in tmux("capture-pane", "-p", "-J", "-S", "-").decode().split("\n")
                 if line and not line.startswith("==")]
        start = "Konvertiere Logfile 'slow.log' nach CSV-Datei 'a.csv':"
        self.assertIn(start, shown)
        shown = shown[shown.index(start) + 1:]
        self.assertTrue(shown[0].endswith("Fehlerhafte Logfile-Zeilen: 0 !!!"), shown)
        self.assertEqual(["FEHLER: Kann Quelldatei 'slow.log' (Logfile) nicht lesen!",
                          "        Grund: Der Lauf wurde mit Strg+C abgebrochen",
                          "EXIT=%d" % (58 if WINDOWS else 130)], shown[1:4], shown)
        made = self.read("a.csv")
        self.assertEqual(csv(GOODCSV) * (len(made) // len(csv(GOODCSV))), made)


@unittest.skipUnless(POSIX, "files and signals of this system")
class BadInput(Case):
    """Whatever comes in, and whatever the files do, nothing is lost."""

    def test_source_from_a_fifo(self):
        import threading
        os.mkfifo(self.path("a.log"))

        def feed():
            with open(self.path("a.log"), "wb") as w:
                for line in (GOOD, BAD, GOOD):
                    w.write(line)
                    w.flush()
        writer = threading.Thread(target=feed)
        writer.start()
        out = self.run_in("a.log", "a.csv")
        writer.join()
        self.assertEqual(self.converted(3, 1), out)
        self.assertEqual(GOODCSV * 2, self.read("a.csv"))

    def test_unreadable_source(self):
        user = self.ordinary()
        self.write("a.log", GOOD)
        os.chmod(self.path("a.log"), 0)
        self.assertEqual(text(NOSOURCE % ("a.log", DENIED)), self.run_in("a.log", "a.csv", **user))
        self.assertEqual(b"", self.read("a.csv"))

    def test_binary_garbage(self):
        import random
        rng = random.Random(5)
        log = bytes(rng.choice(b'"[] \n\t\r\0\xffa;') for _ in range(300000)) + GOOD
        self.write("a.log", log)
        want, faulty = reference(log)
        self.assertEqual(self.converted(log.count(b"\n"), faulty), self.run_in("a.log", "a.csv"))
        self.assertEqual(want, self.read("a.csv"))

    def test_only_line_feeds_and_only_quotes(self):
        self.write("a.log", b"\n" * 100000)
        self.assertEqual(self.converted(100000, 100000), self.run_in("a.log", "a.csv"))
        self.write("a.log", b'"' * 100000)
        self.assertEqual(self.converted(0, 0), self.run_in("a.log", "a.csv"))
        self.assertEqual(b"", self.read("a.csv"))

    @unittest.skipUnless(POSIX, "signals of this system")
    def test_interrupt_ends_the_run_in_order(self):
        # Half the log reaches the program through a FIFO, which it waits on
        # when the signal comes: the run ends as after a read error, every
        # line it read before is in the target, whole, and the process then
        # ends by the signal, as a calling shell expects.
        import signal
        half = GOOD * 10000
        for target, sig, why in (
                ("a.csv", signal.SIGINT, "Der Lauf wurde mit Strg+C abgebrochen"),
                ("a.xlsx", signal.SIGTERM, "Der Lauf wurde mit dem Signal SIGTERM beendet"),
                ("a.db", signal.SIGHUP, "Das Terminal wurde geschlossen (SIGHUP)")):
            os.mkfifo(self.path("slow.log"))
            p = subprocess.Popen([PROGRAM, "slow.log", target], cwd=self.dir, stdout=subprocess.PIPE)
            with open(self.path("slow.log"), "wb") as w:
                w.write(half)
                w.flush()
                # Every line read: the program waits for more.
                until("the half to be read", lambda: pending(w.fileno()) == 0)
                self.assertIsNone(p.poll())
                p.send_signal(sig)
                out = p.communicate(timeout=10)[0]
                self.assertEqual(-sig, p.returncode)
            os.unlink(self.path("slow.log"))
            self.assertEqual(self.converted(10000, 0, "slow.log", target) +
                             text(NOSOURCE % ("slow.log", why)), after_banner(out), target)
        self.assertEqual(GOODCSV * 10000, self.read("a.csv"))
        self.assertEqual([("Zugriffe", [HEADER] + cells(half))], workbook(self.read("a.xlsx")))
        self.assertEqual((records(half), b"ok"), database(self.path("a.db")))
        self.assertEqual(["a.csv", "a.db", "a.xlsx"], sorted(os.listdir(self.dir)))

    @unittest.skipUnless(POSIX, "signals of this system")
    def test_interrupt_while_the_log_streams_in(self):
        # A log that comes as fast as a pipe carries it: the run ends within
        # moments, on a whole line. A second signal ends it at once, here
        # while it waits to write into a FIFO that nobody reads.
        import signal
        import threading
        for target in ("a.csv", "a.db"):
            shown = open(self.path("shown"), "w+b")
            p = subprocess.Popen([PROGRAM, "/dev/stdin", target], cwd=self.dir,
                                 stdin=subprocess.PIPE, stdout=shown)

            def feed():
                try:
                    while True:
                        p.stdin.write(GOOD * 10000)
                except (BrokenPipeError, ValueError):
                    pass
            feeder = threading.Thread(target=feed)
            feeder.start()
            # A frame for every line read: 100,000 lines, 10 MB.
            until("a part of the log to be read", lambda: os.path.getsize(self.path("shown")) > 100000)
            p.send_signal(signal.SIGINT)
            self.assertEqual(-signal.SIGINT, p.wait(timeout=3))
            feeder.join()
            try:
                p.stdin.close()
            except BrokenPipeError:
                pass
            shown.seek(0)
            out = shown.read()
            shown.close()
            self.assertTrue(out.endswith(text(SUMMARY % 0) + text(
                NOSOURCE % ("/dev/stdin", "Der Lauf wurde mit Strg+C abgebrochen"))), out[-200:])
            if target == "a.csv":
                made = self.read("a.csv")
                self.assertEqual(GOODCSV * (len(made) // len(GOODCSV)), made)
            else:
                rows, verdict = database(self.path("a.db"))
                one = records(GOOD)[0]
                self.assertEqual(([(i + 1,) + one[1:] for i in range(len(rows))], b"ok"), (rows, verdict))
        os.mkfifo(self.path("f.csv"))
        reader = os.open(self.path("f.csv"), os.O_RDONLY | os.O_NONBLOCK)
        self.write("b.log", GOOD * 10000)
        p = subprocess.Popen([PROGRAM, "b.log", "f.csv"], cwd=self.dir, stdout=subprocess.DEVNULL)
        until("a write to wait", lambda: waiting_in_write(p.pid))
        p.send_signal(signal.SIGINT)
        until("the first signal to be taken", lambda: not caught(p.pid, signal.SIGINT))
        p.send_signal(signal.SIGINT)
        self.assertEqual(-signal.SIGINT, p.wait(timeout=10))
        os.close(reader)


class Surroundings(Case):
    """Whatever the surroundings do (a reader that goes away, a limit, a
    FIFO, a name that is another name of the log or of standard output,
    closed descriptors), the CSV file is whole or its failure is told, and
    the log keeps every byte."""

    def big(self):
        """A log whose frames and CSV overflow a pipe's buffer many times:
        returns the CSV it gives, and the run's output."""
        log = self.log = (GOOD * 3 + BAD) * 20000
        self.write("a.log", log)
        want, faulty = reference(log)
        return csv(want), lambda **kw: self.converted(log.count(b"\n"), faulty, **kw)

    @unittest.skipUnless(POSIX, "signals of this system")
    def test_reader_of_standard_output_goes_away(self):
        want, _ = self.big()
        p = subprocess.Popen(EMULATOR + [PROGRAM, "a.log", "a.csv"], cwd=self.dir,
                             stdout=subprocess.PIPE)
        p.stdout.read(100)  # the banner, then like head: gone
        p.stdout.close()
        self.assertEqual(0, p.wait(timeout=600))
        self.assertEqual(want, self.read("a.csv"))

    @unittest.skipUnless(POSIX and not EMULATOR and not SANITIZED and shutil.which("prlimit"),
                         "limits of this system, on a program of no sanitizer")
    def test_running_out_of_memory_anywhere_ends_the_run_in_order(self):
        # Under every limit on the address space from where the program can
        # no longer be loaded to where it converts: exit status 0, and the
        # whole output, or a FEHLER with its cause. A plain and a compressed
        # log, into a CSV file and a workbook, of several blocks.
        import gzip
        import io
        import zipfile
        log = (GOOD * 3 + BAD) * 6000
        self.write("a.log", log)
        self.write("a.log.gz", gzip.compress(log, 1))
        # A workbook's files, as they unpack.
        made = lambda target: (self.read(target) if target.endswith(".csv") else
                               {i.filename: z.read(i) for z in [zipfile.ZipFile(io.BytesIO(
                                   self.read(target)))] for i in z.infolist()})
        whole = {}
        for source in ("a.log", "a.log.gz"):
            for target in ("a.csv", "a.xlsx"):
                self.run_in(source, target)
                whole[source, target] = made(target)
        loaded = told = 0
        for limit in range(4 << 20, 40 << 20, 128 << 10):
            for source in ("a.log", "a.log.gz"):
                for target in ("a.csv", "a.xlsx"):
                    if os.path.exists(self.path(target)):
                        os.unlink(self.path(target))
                    p = subprocess.run(["prlimit", "--as=%d" % limit, PROGRAM, source, target],
                                       cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       timeout=60)
                    if not p.stdout and p.returncode != 0 and not loaded:
                        continue  # the program could not be mapped or loaded, nor say so
                    loaded += 1
                    what = (limit, source, target, p.returncode, p.stdout[-300:], p.stderr[-300:])
                    self.assertEqual((0, b""), (p.returncode, p.stderr), what)
                    out = after_banner(p.stdout)
                    failures = out.count(b"\nFEHLER:")
                    self.assertEqual(failures, out.count(b"!\n\tGrund: "), what)
                    # No file is named falsely; where the run could not
                    # start, none was made.
                    self.assertNotIn(b"'?'", out, what)
                    if b"zum Starten" in out:
                        self.assertFalse(os.path.exists(self.path(target)), what)
                    if failures:
                        told += 1
                    else:
                        self.assertEqual(whole[source, target], made(target), what)
        self.assertGreater(told, 4)  # the sweep reached the failures it is for
        self.assertGreater(loaded - told, 4)  # and the limits where all fits

    @unittest.skipUnless(POSIX and not EMULATOR and not SANITIZED and shutil.which("prlimit"),
                         "limits of this system, on a program of no sanitizer")
    def test_a_decoder_without_memory_says_so(self):
        # Under a limit on the address space that the plain log passes, a
        # log whose frames ask for more memory than is left: an xz
        # dictionary of 200 MiB, a zstd window of 128 MiB (from a pipe, so
        # that the frame does not say how small it is). No damage: memory.
        import lzma
        log = GOOD * 1000
        self.write("a.log", log)
        self.write("a.xz", lzma.compress(log, filters=[{"id": lzma.FILTER_LZMA2,
                                                         "dict_size": 200 << 20}]))
        self.write("a.zst", packed("zstd", log, "--long=27"))
        limit = "--as=%d" % (100 << 20)
        for source, why in (("a.log", None), ("a.xz", "Nicht genug Arbeitsspeicher"),
                            ("a.zst", "Nicht genug Arbeitsspeicher")):
            p = subprocess.run(["prlimit", limit, PROGRAM, source, "a.csv"], cwd=self.dir,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
            self.assertEqual((0, b""), (p.returncode, p.stderr), source)
            self.assertEqual(self.converted(1000, 0, source) if why is None else
                             self.converted(0, 0, source) + text(NOSOURCE % (source, why)),
                             after_banner(p.stdout), source)

    @unittest.skipUnless(POSIX, "limits of this system")
    def test_file_size_limit_is_a_write_error(self):
        # A log of many blocks, and one whose CSV goes out in one write that
        # the limit cuts short: the rest of that write must not be lost.
        import resource
        limit = 100 * 1024

        def lower():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        want, _ = self.big()
        log = self.log
        for lines in (None, limit // len(GOODCSV) + 5):
            if lines:
                log = GOOD * lines
                self.write("a.log", log)
                want = csv(GOODCSV * lines)
            out = self.run_in("a.log", "a.csv", preexec_fn=lower)
            self.given_up(out, log, "Die Datei wird groesser als erlaubt")
            self.assertEqual(want[:limit], self.read("a.csv"))
        # A database says so too, where SQLite's own record of the system's
        # error is empty.
        out = self.run_in("a.log", "a.db", preexec_fn=lower)
        self.given_up(out, log, "Die Datei wird groesser als erlaubt", "a.db")

    @unittest.skipUnless(POSIX, "FIFOs of this system")
    def test_fifo_as_target(self):
        # Every byte reaches the reader; a reader that goes away early is a
        # write error. A workbook is written in one pass too, each sheet
        # with its sizes after its data, and its reader gets it whole.
        import threading
        want, converted = self.big()
        os.mkfifo(self.path("f.csv"))
        os.mkfifo(self.path("f.XLSX"))
        for target, keep, message in (("f.csv", None, ""), ("f.csv", 1000, "Das Programm am anderen Ende der Pipe ist beendet"),
                                      ("f.XLSX", None, "")):
            got = []

            def drain():
                with open(self.path(target), "rb") as r:
                    got.append(r.read() if keep is None else r.read(keep))
            reader = threading.Thread(target=drain)
            reader.start()
            out = self.run_in("a.log", target)
            reader.join()
            if message:
                self.given_up(out, self.log, message, target)
            else:
                self.assertEqual(converted(target=target), out)
            if target == "f.XLSX":
                self.assertEqual([("Zugriffe", [HEADER] + cells(self.log))], workbook(got[0]))
            else:
                self.assertEqual(want[:keep], got[0])

    @unittest.skipUnless(POSIX, "FIFOs and signals of this system")
    def test_stopped_and_continued_while_writing_into_a_fifo(self):
        # Ctrl-Z and fg: a write into a full pipe that a stop interrupts
        # returns what it wrote so far, and the writes after it succeed.
        # The rest of the short write must not be overtaken by them.
        import signal
        import threading
        want, converted = self.big()
        os.mkfifo(self.path("f.csv"))
        got = []
        reading = threading.Event()
        reading.set()

        def drain():
            with open(self.path("f.csv"), "rb", buffering=0) as r:
                while True:
                    reading.wait()
                    chunk = r.read(4096)
                    if not chunk:
                        break
                    got.append(chunk)
        reader = threading.Thread(target=drain)
        reader.start()
        p = subprocess.Popen(EMULATOR + [PROGRAM, "a.log", "f.csv"], cwd=self.dir,
                             stdout=subprocess.PIPE)

        def stop():
            # The reader pauses until the program waits in a write into the
            # full FIFO; then the stop and the continue, and the reader goes
            # on until a few more pieces have come.
            for _ in range(20):
                reading.clear()
                until("a write into the full FIFO",
                      lambda: p.poll() is not None or waiting_in_write(p.pid))
                if p.poll() is not None:
                    break
                p.send_signal(signal.SIGSTOP)
                # A continue sent before the stop is taken would discard it.
                until("the stop to be taken", lambda: stopped(p.pid))
                p.send_signal(signal.SIGCONT)
                pieces = len(got)
                reading.set()
                until("the reader to go on", lambda: p.poll() is not None or len(got) > pieces + 8)
            reading.set()
        stops = threading.Thread(target=stop)
        stops.start()
        out = p.communicate(timeout=600)[0]
        stops.join()
        reader.join()
        self.assertEqual(converted(target="f.csv"), after_banner(out))
        self.assertEqual("", differs(want, b"".join(got)))

    @unittest.skipUnless(POSIX and os.path.exists("/proc/self/fd"), "descriptor names of Linux")
    def test_target_named_by_the_descriptor_the_log_gets(self):
        # Nothing is open as 3 when the names are looked at; the log then
        # opens as 3.
        for target in ("/dev/fd/3", "/proc/self/fd/3"):
            self.write("a.log", GOOD + BAD)
            self.assertEqual(text(SAME % (target, "a.log")), self.run_in("a.log", target))
            self.assertEqual(GOOD + BAD, self.read("a.log"))

    @unittest.skipUnless(POSIX, "symbolic links of this system")
    def test_target_that_turns_into_the_log_meanwhile(self):
        import threading
        log = GOOD * 50
        self.write("a.log", log)
        stop = threading.Event()

        def flip():
            # b.csv is now an empty file, now a symbolic link to the log,
            # each put in place at once.
            while not stop.is_set():
                os.symlink("a.log", self.path("link.tmp"))
                os.rename(self.path("link.tmp"), self.path("b.csv"))
                open(self.path("file.tmp"), "wb").close()
                os.rename(self.path("file.tmp"), self.path("b.csv"))
        flipper = threading.Thread(target=flip)
        flipper.start()
        seen = {"converted": 0, "refused": 0}
        start = time.monotonic()
        try:
            # For 3 s, and on until both outcomes were seen (30 s at most).
            for _ in range(3000):
                elapsed = time.monotonic() - start
                if elapsed > 30 or (elapsed > 3 and min(seen.values()) > 0):
                    break
                out = self.run_in("a.log", "b.csv")
                self.assertEqual(log, self.read("a.log"))
                if out == text(SAME % ("b.csv", "a.log")):
                    seen["refused"] += 1
                else:
                    self.assertEqual(self.converted(50, 0, target="b.csv"), out)
                    seen["converted"] += 1
        finally:
            stop.set()
            flipper.join()
        sys.stderr.write("[%(converted)d converted, %(refused)d refused] " % seen)
        self.assertGreater(seen["refused"], 0)
        self.assertGreater(seen["converted"], 0)

    def test_target_is_the_file_of_standard_output(self):
        # Whatever standard output is, a file, a pipe or a terminal, the
        # messages, the frames and the CSV would be mixed in it; only the
        # null device may be both, as it keeps nothing.
        self.write("a.log", GOOD)
        if POSIX:
            self.assertEqual(text(STDOUT % "/dev/stdout"), self.run_in("a.log", "/dev/stdout"))
            self.assertEqual(text(STDOUT % "/dev/stdout").replace(b"\n", b"\r\n"),
                             onpty(["a.log", "/dev/stdout"], self.dir))
            self.assertEqual(self.converted(1, 0, target="/dev/null"),
                             self.run_in("a.log", "/dev/null"))
        for mode in ("wb", "ab"):  # > out.csv and >> out.csv
            self.write("a.log", GOOD)
            self.write("out.csv", b"kept\n")
            with open(self.path("out.csv"), mode) as out:
                subprocess.run(EMULATOR + [PROGRAM, "a.log", "out.csv"], cwd=self.dir,
                               stdout=out, check=True, timeout=600)
            shown = self.read("out.csv")
            kept = b"kept\n" if mode == "ab" else b""
            self.assertTrue(shown.startswith(kept), shown)
            self.assertEqual(text(STDOUT % "out.csv"), after_banner(shown[len(kept):]))
            self.assertEqual(GOOD, self.read("a.log"))
        with open(self.path("out.db"), "wb") as out:  # a database is no other
            subprocess.run(EMULATOR + [PROGRAM, "a.log", "out.db"], cwd=self.dir,
                           stdout=out, check=True, timeout=600)
        self.assertEqual(text(STDOUT % "out.db"), after_banner(self.read("out.db")))

    def test_a_second_run_into_the_same_target_is_refused(self):
        # The first run holds the target while it waits for the reader of its
        # standard output: a log of many empty lines draws a frame for each,
        # and the start message is out once the target is held. Two runs
        # into one file would mix their lines; the second touches nothing.
        # A database is held the same way, SQLite's own lock beside.
        self.write("a.log", GOOD + b"\n" * 300000)
        self.write("c.log", GOOD + GOOD)
        for target in ("b.csv", "b.db"):
            first = subprocess.Popen(EMULATOR + [PROGRAM, "a.log", target], cwd=self.dir,
                                     stdout=subprocess.PIPE)
            shown = b""
            while text(START % ("a.log", target)) not in shown:
                chunk = first.stdout.read1(4096)
                self.assertTrue(chunk, shown)
                shown += chunk
            self.assertEqual(text(NOTARGET % (target, "Die Zieldatei wird von einem anderen Lauf geschrieben" if POSIX else
                                              "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet")),
                             self.run_in("c.log", target))
            shown += first.communicate(timeout=600)[0]
            self.assertEqual(0, first.returncode)
            self.assertEqual(self.converted(300001, 300000, target=target), after_banner(shown))
        self.assertEqual(csv(GOODCSV), self.read("b.csv"))
        self.assertEqual((records(GOOD), b"ok"), database(self.path("b.db")))

    @unittest.skipUnless(POSIX, "FIFOs of this system")
    def test_log_cut_while_it_is_read(self):
        # As logrotate's copytruncate empties a live log. The CSV goes into a
        # FIFO that is read only a little at first, so the program is held
        # at its first block while the log is emptied: what it read of it
        # is converted, and the read error follows the summary.
        import threading
        want, _ = self.big()
        os.mkfifo(self.path("f.csv"))
        got = []

        def drain():
            with open(self.path("f.csv"), "rb") as r:
                got.append(r.read(1000))
                os.truncate(self.path("a.log"), 0)
                got.append(r.read())
        reader = threading.Thread(target=drain)
        reader.start()
        out = self.run_in("a.log", "f.csv")
        reader.join()
        start = text(START % ("a.log", "f.csv"))
        lines = out.index(text(SUMMARY % 0)[:20]) - len(start)
        made, faulty = reference(b"\n".join(self.log.split(b"\n")[:lines]) + b"\n")
        self.assertGreater(lines, 1000)
        self.assertLess(len(made), len(want))
        cut = text(NOSOURCE % ("a.log", "Das Logfile wurde waehrend des Lesens kuerzer; "))[:-1]
        self.assertEqual(start + frames(lines) + text(SUMMARY % faulty), out[:out.index(cut)])
        self.assertRegex(out[out.index(cut) + len(cut):], rb"^[0-9.]+ Bytes waren schon gelesen\r?\n$")
        self.assertEqual(made, b"".join(got))

    @unittest.skipUnless(POSIX and shutil.which("xargs"), "xargs and sh of this system")
    def test_many_logs_at_once_as_the_readme_says(self):
        # The README's own lines, with zettrik on the PATH, in a folder of
        # four logs: each CSV as its log gives it, no run failed.
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        lines = re.search(r"^    (printf '%s\\0' \*\.log .*)\n    (grep -l .*?)\s+#", readme, re.M)
        logs = {"a.log": sample(), "b b.log": GOOD * 3 + BAD, "c.log": b"", "d.log": BAD * 2}
        for name, log in logs.items():
            self.write(name, log)
        os.mkdir(self.path("bin"))
        os.symlink(PROGRAM, self.path(os.path.join("bin", "zettrik")))
        env = dict(os.environ, PATH=self.path("bin") + os.pathsep + os.environ["PATH"])
        subprocess.run(["sh", "-c", lines.group(1)], cwd=self.dir, env=env, check=True, timeout=600)
        found = subprocess.run(["sh", "-c", lines.group(2)], cwd=self.dir, stdout=subprocess.PIPE,
                               timeout=60)
        self.assertEqual(b"", found.stdout)
        for name, log in logs.items():
            want, faulty = reference(log)
            self.assertEqual(want, self.read(name + ".csv"), name)
            self.assertEqual(self.converted(log.count(b"\n"), faulty, name, name + ".csv"),
                             after_banner(self.read(name + ".txt")), name)

    @unittest.skipUnless(POSIX and all(shutil.which(t) for t in ("parallel", "rsync", "ssh", "ssh-keygen"))
                         and os.path.exists("/usr/sbin/sshd"),
                         "needs GNU parallel, rsync, ssh and openssh-server")
    def test_many_machines_as_the_readme_says(self):
        # The README's line for several machines, with one machine: this
        # one, through an ssh server of the test's own on 127.0.0.1, which
        # logs in with a key made here, puts zettrik on the PATH, and knows
        # nothing of the system's own ssh settings.
        import getpass
        import socket
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            line = re.search(r"^    (RSYNC_OLD_ARGS=1 parallel -S host1,host2 .*)$", f.read(), re.M).group(1)
        ssh = self.path("ssh")
        os.mkdir(ssh, 0o700)
        for key in ("host", "user"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(ssh, key)],
                           check=True, timeout=60)
        shutil.copy(os.path.join(ssh, "user.pub"), os.path.join(ssh, "authorized_keys"))
        os.mkdir(self.path("bin"))
        os.symlink(PROGRAM, self.path(os.path.join("bin", "zettrik")))
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        with open(os.path.join(ssh, "sshd_config"), "w") as f:
            f.write("ListenAddress 127.0.0.1\nPort %d\nHostKey %s/host\nAuthorizedKeysFile %s/authorized_keys\n"
                    "PidFile %s/sshd.pid\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                    "PermitRootLogin prohibit-password\nSetEnv PATH=%s:/usr/bin:/bin\n"
                    % (port, ssh, ssh, ssh, self.path("bin")))
        os.makedirs("/run/sshd", exist_ok=True)  # its privilege separation wants it
        server = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", os.path.join(ssh, "sshd_config")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(server.stderr.close)
        self.addCleanup(server.wait)
        self.addCleanup(server.kill)
        login = "ssh -p %d -i %s/user -F none -o BatchMode=yes -o StrictHostKeyChecking=no " \
                "-o UserKnownHostsFile=/dev/null -o LogLevel=ERROR %s@127.0.0.1" % (port, ssh, getpass.getuser())
        deadline = time.monotonic() + 30
        while subprocess.run(login.split() + ["true"], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0:
            if server.poll() is not None or time.monotonic() > deadline:
                self.skipTest("sshd does not start here: %s" % server.stderr.read(2000).decode(errors="replace")
                              if server.poll() is not None else "sshd does not let the test log in")
            time.sleep(0.2)
        logs = {"a.log": sample(), "with space.log": GOOD * 3 + BAD}
        for name, log in logs.items():
            self.write(name, log)
        subprocess.run(["sh", "-c", line.replace("host1,host2", "'%s'" % login)], cwd=self.dir,
                       check=True, timeout=300, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for name, log in logs.items():
            want, faulty = reference(log)
            self.assertEqual(want, self.read(name + ".csv"), name)
            self.assertEqual(self.converted(log.count(b"\n"), faulty, name, name + ".csv"),
                             after_banner(self.read(name + ".txt")), name)

    @unittest.skipUnless(POSIX, "descriptors of this system")
    def test_closed_standard_descriptors_do_not_become_the_target(self):
        want, _ = self.big()

        def closed():
            os.close(0)
            os.close(1)
        subprocess.run(EMULATOR + [PROGRAM, "a.log", "a.csv"], cwd=self.dir, preexec_fn=closed,
                       check=True, timeout=600)
        self.assertEqual(want, self.read("a.csv"))

    @unittest.skipUnless(POSIX, "a pseudo-terminal of this system")
    def test_control_bytes_in_names_are_shown_as_question_marks_on_a_terminal(self):
        # C0 controls, DEL, and the C1 controls as bytes and in UTF-8 (CSI
        # both); other bytes and characters stay as they are.
        name = os.fsdecode(b"x\r\x1b[2KFehlerhafte Logfile-Zeilen: 0 !!!\x1b[8m\x7f\x9b2J\xc2\x9b2J"
                           b"\xc3\xa9\xa0")
        shown = os.fsdecode(b"x??[2KFehlerhafte Logfile-Zeilen: 0 !!!?[8m??2J?2J\xc3\xa9\xa0")
        self.assertEqual(text(NOSOURCE % (shown, MISSING)).replace(b"\n", b"\r\n"),
                         onpty([name, "a.csv"], self.dir))
        # Redirected, the name stays as it is.
        self.assertEqual(text(NOSOURCE % (name, MISSING)), self.run_in(name, "a.csv"))


@unittest.skipUnless(os.environ.get("ZETTRIK_HUGE"), "set ZETTRIK_HUGE=1 for the multi-gigabyte cases")
@unittest.skipUnless(POSIX, "pipes of this system")
class Huge(Case):
    def peaked(self, argv, feed=None):
        """Runs the program, with feed(pipe) writing its standard input on a
        thread where given; returns its output and its peak resident memory
        in KiB over the whole run. GNU time starts it and reads the peak
        when it ends: a child forked from here would count this Python's
        memory, before its exec, in its own peak."""
        import threading
        if not os.path.exists("/usr/bin/time"):
            self.skipTest("needs GNU time")
        report = self.path("peak.txt")
        p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report, PROGRAM] + argv,
                             cwd=self.dir, stdout=subprocess.PIPE,
                             stdin=subprocess.PIPE if feed else None)
        writer = threading.Thread(target=feed, args=(p.stdin,)) if feed else None
        if writer:
            writer.start()
        out = p.stdout.read()
        p.stdout.close()
        if writer:
            writer.join()
        self.assertEqual(0, p.wait())
        with open(report) as f:
            peak = int(f.read().split()[-1])
        self.assertGreater(peak, 0)
        return out, peak

    def test_a_line_of_three_gigabytes_costs_no_memory(self):
        def feed(pipe):
            block = b"x \"[" * (1 << 18)
            for _ in range(3 << 10):
                pipe.write(block)
            pipe.write(b"\n" + GOOD)
            pipe.close()
        out, peak = self.peaked(["/dev/stdin", "a.csv"], feed)
        self.assertTrue(out.endswith(frames(2) + text(SUMMARY % 1)), out[-100:])
        self.assertEqual(GOODCSV, self.read("a.csv"))
        self.assertLess(peak, 8 * 1024)  # KiB

    def test_a_compressed_bomb_costs_no_memory(self):
        # A few megabytes that decode to a line of three gigabytes, then a
        # good line: the line is skipped, the good one converted. One
        # compressed piece of 16 MiB, repeated: frames follow one another.
        import gzip
        line = b"x" * (1 << 24)
        for name, piece, end, limit in (
                ("bomb.gz", gzip.compress(line, 9), gzip.compress(b"\n" + GOOD), 8),
                ("bomb.zst", packed("zstd", line, "-3"), packed("zstd", b"\n" + GOOD), 16),
                ("bomb.xz", packed("xz", line, "-6"), packed("xz", b"\n" + GOOD), 16),
                ("bomb.bz2", packed("bzip2", line, "-9"), packed("bzip2", b"\n" + GOOD), 16)):
            bomb = piece * (3 << 6) + end
            self.assertLess(len(bomb), 8 << 20)
            self.write(name, bomb)
            out, peak = self.peaked([name, "a.csv"])
            self.assertTrue(out.endswith(frames(2) + text(SUMMARY % 1)), (name, out[-100:]))
            self.assertEqual(GOODCSV, self.read("a.csv"), name)
            self.assertLess(peak, limit * 1024, name)  # KiB

    def test_a_workbook_of_two_sheets(self):
        # Past 1,048,575 rows the next sheet, with the header again; memory
        # stays flat. The rows are counted in the sheets' XML, and the rows
        # about the boundary read whole.
        import zipfile
        first = GOOD.replace(b"10.0.0.1", b"10.0.0.2")  # the last row of sheet 1
        log = GOOD * 1048574 + first + b"x\n" + GOOD * 10 + BAD + GOOD
        self.write("a.log", log)
        out, peak = self.peaked(["a.log", "a.xlsx"])
        self.assertTrue(out.endswith(text(SUMMARY % 2)), out[-100:])
        self.assertLess(peak, 16 * 1024)  # KiB
        rows, tail = self.sheet(zipfile.ZipFile(self.path("a.xlsx")), 1)
        self.assertEqual(1 + 1048575, rows)
        self.assertIn(b"<t>10.0.0.2</t>", tail)
        self.assertIn(b'<autoFilter ref="A1:J1048576"/></worksheet>', tail)
        self.assertEqual([("Zugriffe", None), ("Zugriffe 2", [HEADER] + cells(GOOD * 11))],
                         workbook(self.read("a.xlsx"), only={2}))

    def test_a_database_of_four_million_rows(self):
        # Memory stays flat, SQLite's pages included, and every line keeps
        # its number: the rejected ones leave their gaps. Another program
        # that reads the file while the run goes on (a file manager's
        # preview) is told that it is locked, and the memory stays flat all
        # the same: SQLite's cache spills as it would alone.
        import sqlite3
        import threading
        tried = []  # what the other program was told, each time

        def look():
            # From the moment the run has made the file, not before: a
            # reader that holds the file as the run starts makes it refuse
            # the file, as it should.
            while os.path.getsize(self.path("a.db")) == 0 and not ended:
                time.sleep(0.001)
            while not ended:
                try:
                    con = sqlite3.connect(self.path("a.db"), timeout=0)
                    try:
                        tried.append(con.execute("SELECT count(*) FROM zugriffe").fetchone()[0])
                    finally:
                        con.close()
                except sqlite3.Error as e:
                    tried.append(str(e))
                time.sleep(0.05)

        def feed(pipe):
            for _ in range(4000):
                pipe.write(GOOD * 999 + BAD)
            pipe.close()
        with open(self.path("a.db"), "wb"):
            pass
        ended = []
        reader = threading.Thread(target=look)
        reader.start()
        try:
            out, peak = self.peaked(["/dev/stdin", "a.db"], feed)
        finally:
            ended.append(True)
            reader.join()
        self.assertIn("database is locked", tried)
        self.assertEqual([], [t for t in tried if t not in ("database is locked", 3996000)])
        self.assertTrue(out.endswith(text(SUMMARY % 4000)), out[-100:])
        self.assertLess(peak, 32 * 1024)  # KiB
        con = sqlite3.connect(self.path("a.db"))
        self.assertEqual((3996000, 1, 3999999, 3996000),
                         con.execute("SELECT count(*), min(zeile), max(zeile), "
                                     "count(DISTINCT zeile / 1000) * 999 FROM zugriffe").fetchone())
        self.assertEqual((3999999, "10.0.0.1", 200, "2026-12-07 10:00:00+01:00"), con.execute(
            "SELECT zeile, adresse, status, zeit FROM zugriffe ORDER BY zeile DESC LIMIT 1").fetchone())
        self.assertEqual(0, con.execute("SELECT count(*) FROM zugriffe WHERE zeile % 1000 = 0").fetchone()[0])
        con.close()

    def sheet(self, book, number):
        """The rows of a sheet too large to parse in memory, counted as it
        is read (which checks its CRC), and the last bytes of its XML."""
        rows, tail = 0, b""
        with book.open("xl/worksheets/sheet%d.xml" % number) as f:
            while True:
                chunk = f.read(1 << 20)
                if not chunk:
                    break
                rows += (tail + chunk).count(b"<row r=") - tail.count(b"<row r=")
                tail = (tail + chunk)[-600:]
        return rows, tail

    def test_a_sheet_past_four_gigabytes(self):
        # A sheet's XML past 4 GiB takes zip64's forms: its sizes in the
        # directory's extra field and in the records that end it, and the
        # data descriptor after the sheet with sizes of eight bytes. The log
        # comes through a pipe; its long requests pack small.
        import struct
        import zipfile
        line = GOOD.replace(b"/index.html", b"/" + b"a" * 30000)
        count = 143000
        def feed(pipe):
            for _ in range(count // 1000):
                pipe.write(line * 1000)
            pipe.close()
        out, peak = self.peaked(["/dev/stdin", "a.xlsx"], feed)
        self.assertTrue(out.endswith(text(SUMMARY % 0)), out[-100:])
        self.assertLess(peak, 16 * 1024)  # KiB
        book = zipfile.ZipFile(self.path("a.xlsx"))
        info = book.getinfo("xl/worksheets/sheet1.xml")
        self.assertGreater(info.file_size, 0xffffffff)
        rows, tail = self.sheet(book, 1)
        self.assertEqual(1 + count, rows)
        self.assertIn(b'<autoFilter ref="A1:J%d"/></worksheet>' % (count + 1), tail)
        with open(self.path("a.xlsx"), "rb") as f:
            f.seek(info.header_offset + 26)
            name, extra = struct.unpack("<HH", f.read(4))
            f.seek(info.header_offset + 30 + name + extra + info.compress_size)
            self.assertEqual((0x08074b50, info.CRC, info.compress_size, info.file_size),
                             struct.unpack("<IIQQ", f.read(24)))

    def test_three_billion_rejected_lines_are_counted_exactly(self):
        import threading
        count = 3000000000
        p = subprocess.Popen([PROGRAM, "/dev/stdin", "a.csv"], cwd=self.dir,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE)

        def feed():
            block = b"\n" * (1 << 20)
            left = count
            while left:
                p.stdin.write(block[:min(left, len(block))])
                left -= min(left, len(block))
            p.stdin.close()
        writer = threading.Thread(target=feed)
        writer.start()
        head, tail, printed = b"", b"", 0
        while True:
            chunk = p.stdout.read(1 << 20)
            if not chunk:
                break
            printed += len(chunk)
            head = head or chunk
            tail = (tail + chunk)[-200:]
        writer.join()
        self.assertEqual(0, p.wait())
        start = BANNER.match(head).end() + len(text(START % ("/dev/stdin", "a.csv")))
        summary = text(SUMMARY % count)
        last = bytes(b"\\|/-"[i % 4] for i in range(count - 20, count))
        self.assertTrue(tail.endswith(last + summary), tail)
        self.assertEqual(start + count + len(summary), printed)  # one frame a line
        self.assertEqual(b"", self.read("a.csv"))


class SameFile(Case):
    """Whatever the names, the log is never emptied by being its own target."""

    def check(self, source, target):
        self.write("a.log", GOOD + BAD)
        out = self.run_in(source, target)
        self.assertEqual(text(SAME % (target, source)), out)
        self.assertEqual(GOOD + BAD, self.read("a.log"))

    def test_same_path(self):
        self.check("a.log", "a.log")

    @unittest.skipUnless(POSIX, "permissions of this system")
    def test_a_read_only_log_named_twice(self):
        # It cannot be opened for writing, and is still told as the log: by
        # its name, and by the name of the descriptor it opens as, which
        # means the log only once it is open.
        user = self.ordinary()
        self.write("a.log", GOOD + BAD)
        os.chmod(self.path("a.log"), 0o444)
        for target in ["a.log"] + (["/dev/fd/3"] if os.path.exists("/dev/fd") else []):
            self.assertEqual(text(SAME % (target, "a.log")), self.run_in("a.log", target, **user))
            self.assertEqual(GOOD + BAD, self.read("a.log"))

    def test_relative_and_absolute(self):
        self.check("a.log", os.path.join(".", "a.log"))
        self.check(self.path("a.log"), "a.log")

    @unittest.skipUnless(POSIX, "FIFOs of this system")
    def test_a_fifo_named_twice(self):
        # Opened, it would wait for a writer that never comes: it is told by
        # its name before anything is opened.
        os.mkfifo(self.path("f.fifo"))
        self.assertEqual(text(SAME % ("f.fifo", "f.fifo")), self.run_in("f.fifo", "f.fifo", timeout=60))

    @unittest.skipUnless(POSIX, "POSIX links")
    def test_hard_and_symbolic_links(self):
        self.write("a.log", b"")
        os.link(self.path("a.log"), self.path("hard.csv"))
        os.symlink("a.log", self.path("soft.csv"))
        os.mkdir(self.path("sub"))
        os.symlink("..", self.path(os.path.join("sub", "up")))
        self.check("a.log", "hard.csv")
        self.check("soft.csv", "a.log")
        self.check("a.log", os.path.join("sub", "up", "a.log"))
        self.check(os.path.join("sub", "up", "sub", "up", "a.log"), "hard.csv")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
