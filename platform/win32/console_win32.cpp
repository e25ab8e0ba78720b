#include "platform/win32/console_win32.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace tessaro {
namespace {

// The code page to give back; 0 while the console's own is in place.
volatile LONG savedCodePage = 0;

bool WritesToAConsole(DWORD which) {
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != FALSE;
}

}  // namespace

Utf8ConsoleOutput::Utf8ConsoleOutput() {
  if (!WritesToAConsole(STD_OUTPUT_HANDLE) && !WritesToAConsole(STD_ERROR_HANDLE)) return;
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8) return;
  if (SetConsoleOutputCP(CP_UTF8) == FALSE) return;
  InterlockedExchange(&savedCodePage, static_cast<LONG>(current));
  // The option parser ends the process with exit() for --help and wrong
  // command lines, past every destructor of main's objects.
  std::atexit(FlushAndRestore);
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() { FlushAndRestore(); }

// What the streams still hold is shown in the code page it was written for.
void Utf8ConsoleOutput::FlushAndRestore() {
  std::fflush(stdout);
  std::fflush(stderr);
  RestoreConsoleOutputCodePage();
}

void RestoreConsoleOutputCodePage() {
  const LONG saved = InterlockedExchange(&savedCodePage, 0);
  if (saved != 0) SetConsoleOutputCP(static_cast<UINT>(saved));
}

}  // namespace tessaro
