#pragma once
// Names that Windows takes for a device instead of a file. Portable, so that
// the rule is tested on every platform; the Windows file backend refuses
// such names before it opens them, since opening a serial port or the
// console can wait for ever.

namespace tessaro {

// True when path's last component is a reserved device name (CON, PRN, AUX,
// NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$, CLOCK$), in any case of
// ASCII letters, also with an extension or trailing blanks ("com1.txt"
// opens the port too), or when the path lies in the device namespace
// ("\\.\pipe\name", "//./COM12").
bool NamesWindowsDevice(const char* path);

}  // namespace tessaro
