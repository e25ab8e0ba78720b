#pragma once

namespace tessaro {

// The tool writes UTF-8 (its code page under the program's manifest), and
// a console shows bytes in its own output code page, by default the OEM
// one: file names and system messages outside ASCII would be garbled on the
// console while the log has them right. While the object lives, a console
// that the standard output or error writes to shows UTF-8. The console is
// shared with the shell that started the tool, so its code page is given
// back when the object ends or the process exits, or by
// RestoreConsoleOutputCodePage before the process ends another way.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  static void FlushAndRestore();
};

void RestoreConsoleOutputCodePage();

}  // namespace tessaro
