// Holds a file open for writing without sharing it for reading, as a web
// server may hold its log, and runs a program meanwhile, for the Windows
// end-to-end tests:
//
//   hold FILE PROGRAM [ARGUMENT...]
//
// Exits with the program's exit status, or 100 and more where it could not
// hold the file or start the program.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3)
    return 100;
  HANDLE held = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE)
    return 101;
  std::wstring line;
  for (int i = 2; i < argc; i++)
    line += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  PROCESS_INFORMATION child;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                      &child))
    return 102;
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 103;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(held);
  return (int)status;
}
