#include <windows.h>

#include <string>

#include "base/output_file.h"
#include "platform/device_name.h"
#include "platform/win32/system_words.h"

namespace tessaro {

std::string SystemWords(uint32_t error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' ')) {
    words.pop_back();
  }
  return words;
}

}  // namespace tessaro

namespace tessaro::output {
namespace {

std::wstring Wide(const std::string& path) {
  const int units = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), units) != units) return {};
  wide.resize(static_cast<size_t>(units - 1));
  return wide;
}

}  // namespace

Handle OpenEmptied(const std::string& path, std::string& reason, bool keep) {
  // A serial port, the console or a pipe: opening one may itself wait, so
  // the name is refused before the open.
  if (NamesWindowsDevice(path.c_str())) {
    reason = "a device, not a file on a disk";
    return kNoHandle;
  }
  const std::wstring wide = Wide(path);
  if (wide.empty()) {
    reason = ErrorText(GetLastError());
    return kNoHandle;
  }
  // Emptied through one handle, then appended to through another, shared
  // with other runs: the lines of a run that writes after this one's open
  // land after this run's, not over them.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (!keep) {
    const HANDLE emptied = CreateFileW(wide.c_str(), GENERIC_WRITE, kShare, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (emptied == INVALID_HANDLE_VALUE) {
      reason = ErrorText(GetLastError());
      return kNoHandle;
    }
    CloseHandle(emptied);
  }
  const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShare, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = ErrorText(GetLastError());
    return kNoHandle;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    reason = "a device, not a file on a disk";
    return kNoHandle;
  }
  return reinterpret_cast<Handle>(file);
}

// A file on a disk never makes a write wait for a reader.
Written Write(Handle file, const char* bytes, size_t lengthBytes, std::string& reason) {
  DWORD written = 0;
  if (WriteFile(reinterpret_cast<HANDLE>(file), bytes, static_cast<DWORD>(lengthBytes), &written, nullptr) == FALSE ||
      written != lengthBytes) {
    reason = ErrorText(GetLastError());
    return Written::kFailed;
  }
  return Written::kWhole;
}

void Close(Handle file) {
  if (file != kNoHandle) CloseHandle(reinterpret_cast<HANDLE>(file));
}

std::string ErrorText(uint32_t error) {
  const std::string words = SystemWords(error);
  return words.empty() ? "error " + std::to_string(error) : words;
}

bool WouldWait(uint32_t) { return false; }

}  // namespace tessaro::output
