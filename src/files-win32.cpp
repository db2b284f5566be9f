// The files on Windows. Names are taken and opened in UTF-16 throughout, and
// which file a name means is decided on the open handles: a file is known by
// the serial number of its volume and its id there.

// FILE_ID_INFO came with Windows 8; older systems take the fallback.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#endif
#define WIN32_LEAN_AND_MEAN
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

// The start-up code expands patterns in the arguments, as is the custom
// here, but a pattern must never choose the file that is written over:
// `access.*` beside access.csv and access.log would make the log the target.
// The command line as typed, split by the system's rules, expands nothing.
bool typed() {
  int n = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &n);
  bool ok = argv != nullptr && n == 3 && wcspbrk(argv[2], L"*?") == nullptr;
  LocalFree(argv);
  return ok;
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

// Whether two open handles are of one file. The 128-bit file id is asked
// for first: the 64-bit index is not unique on every file system, and some
// handles refuse the older call (Wine's for a standard output redirected to
// a file). Wine also gives such a handle the volume serial number 0; a 0 is
// taken as unknown and the file id decides alone. Should two files on two
// volumes share an id, the run would be refused, and nothing emptied.
// Devices such as the console have no id, and are never the same file.
static bool identical(HANDLE a, HANDLE b) {
  FILE_ID_INFO ia, ib;
  if (GetFileInformationByHandleEx(a, FileIdInfo, &ia, sizeof ia) &&
      GetFileInformationByHandleEx(b, FileIdInfo, &ib, sizeof ib))
    return (ia.VolumeSerialNumber == ib.VolumeSerialNumber || ia.VolumeSerialNumber == 0 ||
            ib.VolumeSerialNumber == 0) &&
           memcmp(&ia.FileId, &ib.FileId, sizeof ia.FileId) == 0;
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

// A folder does not open as a file here.
FILE* openread(const wchar_t* path) {
  return _wfopen(path, L"rb");
}

// As on POSIX: opened for writing without emptying, compared as an open
// handle with the log and with standard output, and only then emptied.
int openwrite(const wchar_t* path, FILE* log, FILE** target) {
  *target = nullptr;
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A log that may not be written is still told as the log: opened once
    // more without asking for any access, nothing can be emptied.
    h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    bool islog = log && identical(h, (HANDLE)_get_osfhandle(_fileno(log)));
    if (h != INVALID_HANDLE_VALUE)
      CloseHandle(h);
    return islog ? ISLOG : UNWRITABLE;
  }
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  bool disk = GetFileType(h) == FILE_TYPE_DISK;
  int verdict = OPENED;
  if (log && identical(h, (HANDLE)_get_osfhandle(_fileno(log))))
    verdict = ISLOG;
  else if (disk && GetFileType(out) == FILE_TYPE_DISK && identical(h, out))
    verdict = ISSTDOUT;
  else if (disk && !SetEndOfFile(h))  // the file pointer is at 0 after the open
    verdict = UNWRITABLE;
  if (verdict != OPENED) {
    CloseHandle(h);
    return verdict;
  }
  int fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return UNWRITABLE;
  }
  *target = _fdopen(fd, "wb");
  if (*target == nullptr) {
    _close(fd);
    return UNWRITABLE;
  }
  return OPENED;
}
