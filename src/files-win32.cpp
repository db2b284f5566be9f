// The files on Windows. Names are taken and opened in UTF-16 throughout, and
// which file a name means is decided on the open handles: a file is known by
// the serial number of its volume and its id there.

// FILE_ID_INFO came with Windows 8; older systems take the fallback.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#endif
#define WIN32_LEAN_AND_MEAN
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include <shellapi.h>

#include "files.h"

// The standard handles need no care here: the run-time keeps descriptors
// 0, 1 and 2 for them even when a handle is missing, so no file opened later
// takes their place, and writes to a closed pipe fail without a signal.
void prepare() {}

// Whether a name is a prefixed one, \\?\ or \\.\, which the system takes as it
// stands.
static bool prefixed(const std::wstring& name) {
  return name.size() >= 4 &&
         (name.compare(0, 4, L"\\\\?\\") == 0 || name.compare(0, 4, L"\\\\.\\") == 0);
}

// Whether a name is a pattern: a * or ? after the prefixes \\?\ and \\.\,
// whose ? is no pattern.
static bool pattern(const std::wstring& name) {
  return name.find_first_of(L"*?", prefixed(name) ? 4 : 0) != std::wstring::npos;
}

// The one file that a pattern matches, in the folder the pattern names:
// false where it matches several. Where it matches none, the name stays as
// typed, and cannot be opened. Only the last part of a name may be a
// pattern, as FindFirstFileW takes it.
static bool expand(std::wstring* name) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(name->c_str(), &found);
  if (h == INVALID_HANDLE_VALUE)
    return true;
  std::wstring match;
  int matches = 0;
  do
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
      match = found.cFileName;
      matches++;
    }
  while (matches < 2 && FindNextFileW(h, &found));
  FindClose(h);
  if (matches == 1)
    name->replace(name->find_last_of(L"\\/:") + 1, std::wstring::npos, match);  // npos + 1 is 0
  return matches < 2;
}

// The start-up code's own split and expansion are not used (_dowildcard is
// 0 in zettrik.cpp): the names come from one split of the command line, by
// CommandLineToArgvW, the system's rules, and the log's pattern is expanded
// here. Two splits by different rules (they differ on "" inside quotes and
// on the program's own name) would let a command line name one file to the
// check and another to the open: `zettrik.exe" " *.log" "` beside access.log
// and error.log would convert one into the other.
bool arguments(int, wchar_t**, std::vector<std::wstring>* names) {
  int n = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &n);
  if (argv == nullptr)
    return false;
  names->assign(argv, argv + n);
  LocalFree(argv);
  if (names->size() != 3)
    return true;  // the usage message follows in any case
  return !pattern((*names)[2]) && (!pattern((*names)[1]) || expand(&(*names)[1]));
}

std::string utf8(const wchar_t* name) {
  int n = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0)
    return std::string();
  std::string s((size_t)n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, -1, &s[0], n, nullptr, nullptr);
  s.resize((size_t)n - 1);  // without the terminating zero
  return s;
}

// Whether two handles with one file id show the same size and the same
// time of the last write.
static bool alike(HANDLE a, HANDLE b) {
  FILE_BASIC_INFO ta, tb;
  LARGE_INTEGER sa, sb;
  return GetFileInformationByHandleEx(a, FileBasicInfo, &ta, sizeof ta) &&
         GetFileInformationByHandleEx(b, FileBasicInfo, &tb, sizeof tb) && GetFileSizeEx(a, &sa) &&
         GetFileSizeEx(b, &sb) && ta.LastWriteTime.QuadPart == tb.LastWriteTime.QuadPart &&
         sa.QuadPart == sb.QuadPart;
}

// Whether two open handles are of one file. The 128-bit file id is asked
// for first: the 64-bit index is not unique on every file system, and some
// handles refuse the older call (Wine's for a standard output redirected to
// a file). Wine also gives such a handle the volume serial number 0, and a
// hard link reached through another drive letter another serial than the
// file's. Nothing promises one serial for each file, so two handles with
// one file id are one file where the serials agree, where one is 0
// (unknown), or where size and time of the last write agree as well. Two
// files that share an id and all that would be refused, and nothing
// emptied: a false refusal costs a message, a false pass the log. Devices
// such as the console have no id, and are never the same file.
static bool identical(HANDLE a, HANDLE b) {
  FILE_ID_INFO ia, ib;
  if (GetFileInformationByHandleEx(a, FileIdInfo, &ia, sizeof ia) &&
      GetFileInformationByHandleEx(b, FileIdInfo, &ib, sizeof ib))
    return memcmp(&ia.FileId, &ib.FileId, sizeof ia.FileId) == 0 &&
           (ia.VolumeSerialNumber == ib.VolumeSerialNumber || ia.VolumeSerialNumber == 0 ||
            ib.VolumeSerialNumber == 0 || alike(a, b));
  BY_HANDLE_FILE_INFORMATION fa, fb;
  return GetFileInformationByHandle(a, &fa) && GetFileInformationByHandle(b, &fb) &&
         fa.dwVolumeSerialNumber == fb.dwVolumeSerialNumber &&
         fa.nFileIndexHigh == fb.nFileIndexHigh && fa.nFileIndexLow == fb.nFileIndexLow;
}

// Windows has no FIFOs among its files, which is why POSIX looks at the
// names first; here the open handles alone decide.
bool same(const wchar_t*, const wchar_t*) {
  return false;
}

bool exists(const wchar_t* path) {
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The system drops the dots and spaces at the end of a name when it opens
// it (out.xlsx. opens out.xlsx), except after a prefix.
bool named(const wchar_t* path, const char* suffix) {
  std::wstring name = path;
  if (!prefixed(name))
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
      name.pop_back();
  size_t n = strlen(suffix);
  if (name.size() < n)
    return false;
  for (size_t i = 0; i < n; i++) {
    wchar_t c = name[name.size() - n + i];
    if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != (wchar_t)suffix[i])
      return false;
  }
  return true;
}

// Whether the name is a folder's.
static bool folder(const wchar_t* path) {
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Why a call of the system failed, from its last error; a folder does not
// open as a file here, the system says "access denied" of it, and it is
// told as the folder it is.
static cause whyfailed(const wchar_t* path, bool log) {
  DWORD e = GetLastError();
  return e == ERROR_ACCESS_DENIED && folder(path) ? because(SYSTEM, EISDIR) : fromwindows(e, log);
}

// Opened by the system's call, not the run-time's, so that the cause is
// the system's error: a log that a server holds open without sharing it
// is told as such, where the run-time says "access denied". Shared for
// reading and writing, as the run-time's open shares it: a server goes on
// writing the log while it is read.
FILE* openread(const wchar_t* path, cause* why) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    note(why, whyfailed(path, true));
    return nullptr;
  }
  int fd = _open_osfhandle((intptr_t)h, _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    note(why, fromerrno(errno));
    CloseHandle(h);
    return nullptr;
  }
  FILE* f = _fdopen(fd, "rb");
  if (f == nullptr) {
    note(why, fromerrno(errno));
    _close(fd);
  }
  return f;
}

// Written by the system's call: the run-time's errno after a write that
// took only some of the bytes is whatever it was before (EINVAL, as a
// rule), and the system's error of the write that failed is the cause. A
// write that took some is followed by one of the rest, which fails with
// the cause (a full disk, a removed stick).
bool putout(FILE* f, const char* p, size_t n, cause* why) {
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
  while (n > 0) {
    DWORD wrote = 0, k = n > (1u << 30) ? 1u << 30 : (DWORD)n;
    if (!WriteFile(h, p, k, &wrote, nullptr)) {
      note(why, fromwindows(GetLastError()));
      return false;
    }
    if (wrote == 0) {
      note(why, because(UNKNOWN));
      return false;
    }
    p += wrote;
    n -= wrote;
  }
  return true;
}

// Whether the last part of a name is the console's reserved name, CON,
// whatever its case and its extension (con.csv, CON.txt, C:\\x\\con.csv).
static bool reserved(const wchar_t* path) {
  const wchar_t* last = path;
  for (const wchar_t* p = path; *p; p++)
    if (*p == L'\\' || *p == L'/' || *p == L':')
      last = p + 1;
  std::wstring base = last;
  if (base.find(L'.') != std::wstring::npos)
    base.resize(base.find(L'.'));
  while (!base.empty() && base.back() == L' ')
    base.pop_back();
  return _wcsicmp(base.c_str(), L"CON") == 0;
}

// Whether a handle is a console. Only a handle that may read can be asked:
// a character device such as CONOUT$ is asked through one more handle to
// its name, and a name that cannot be opened so, as CON itself, by the
// reserved name. The null device is none.
static bool console(HANDLE h, const wchar_t* path) {
  DWORD mode;
  if (GetConsoleMode(h, &mode))
    return true;
  if (path == nullptr || GetFileType(h) != FILE_TYPE_CHAR)
    return false;
  if (reserved(path))
    return true;
  HANDLE asked = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  bool yes = asked != INVALID_HANDLE_VALUE && GetConsoleMode(asked, &mode);
  if (asked != INVALID_HANDLE_VALUE)
    CloseHandle(asked);
  return yes;
}

// As on POSIX: opened for writing without emptying, compared as an open
// handle with the log and with standard output, and only then emptied. A
// log that could not be opened for reading (a server may hold it open
// without read sharing) is opened once more for the comparison, asking for
// no access at all, which no sharing forbids. The CSV file is shared for
// reading only while it is written: a second run that opens it for writing
// fails, and so does a file that another program writes.
//
// A target that must be a file on a disk (keep, a database) is opened for
// reading and writing and shared for both, as the database's library opens
// it again beside this handle and locks it itself; it is not emptied. A
// program that holds it without sharing it for writing makes this open
// fail, before anything is changed.
int openwrite(const wchar_t* path, const wchar_t* logname, FILE* log, bool keep, FILE** target,
              cause* why) {
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE mine = INVALID_HANDLE_VALUE;
  HANDLE source = log ? (HANDLE)_get_osfhandle(_fileno(log))
                      : (mine = CreateFileW(logname, 0, all, nullptr, OPEN_EXISTING, 0, nullptr));
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  *target = nullptr;
  int verdict = OPENED;
  HANDLE h =
      keep ? CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
           : CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // Not to be written, or written by another: it is still told as the log
    // or as standard output, opened once more without asking for any
    // access, so that nothing can be emptied.
    note(why, whyfailed(path, false));
    h = CreateFileW(path, 0, all, nullptr, OPEN_EXISTING, 0, nullptr);
    verdict = identical(h, source) ? ISLOG : identical(h, out) ? ISSTDOUT : UNWRITABLE;
  } else if (identical(h, source)) {
    verdict = ISLOG;
  } else if ((GetFileType(h) == FILE_TYPE_DISK && GetFileType(out) == FILE_TYPE_DISK &&
              identical(h, out)) ||
             (console(out, nullptr) && console(h, path))) {
    verdict = ISSTDOUT;
  } else if (keep && GetFileType(h) != FILE_TYPE_DISK) {
    note(why, because(NOTFILE));
    verdict = UNWRITABLE;
  } else if (!keep && GetFileType(h) == FILE_TYPE_DISK && !SetEndOfFile(h)) {  // pointer at 0
    note(why, whyfailed(path, false));
    verdict = UNWRITABLE;
  }
  if (mine != INVALID_HANDLE_VALUE)
    CloseHandle(mine);
  if (verdict != OPENED) {
    if (h != INVALID_HANDLE_VALUE)
      CloseHandle(h);
    return verdict;
  }
  int fd = _open_osfhandle((intptr_t)h, (keep ? _O_RDWR : _O_WRONLY) | _O_BINARY);
  if (fd < 0) {
    note(why, fromerrno(errno));
    CloseHandle(h);
    return UNWRITABLE;
  }
  *target = _fdopen(fd, keep ? "r+b" : "wb");
  if (*target == nullptr) {
    note(why, fromerrno(errno));
    _close(fd);
    return UNWRITABLE;
  }
  return OPENED;
}
