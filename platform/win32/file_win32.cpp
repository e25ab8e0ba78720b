#include "platform/win32/file_win32.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/device_name.h"
#include "platform/win32/system_words.h"

namespace tessaro {
namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

// The limit is decided on the full path: a short relative name in a deep
// current folder is as long to the system as the folder and the name.
std::wstring WidePath(const char* name) {
  const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), units) != units) return {};
  wide.resize(static_cast<size_t>(units - 1));
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD fullUnits = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (fullUnits == 0) return {};
  std::wstring full(fullUnits, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), fullUnits, full.data(), nullptr);
  if (written == 0 || written >= fullUnits) return {};
  full.resize(written);
  constexpr size_t kClassicLimit = MAX_PATH - 12;  // room for a file name in a folder at the limit
  if (full.size() < kClassicLimit) return wide;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

namespace {

// Opens name with CreateFileW, but only a file on a disk: a serial port, the
// console, NUL or a pipe would make a read or a write wait for ever or lose
// what it was given. Such names are refused before the open, since opening
// a port may itself wait; anything else that is no disk file after the open.
HANDLE OpenDiskFile(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (NamesWindowsDevice(name)) {
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  const std::wstring wide = WidePath(name);
  if (wide.empty()) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileW(wide.c_str(), access, share, nullptr, disposition, attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return INVALID_HANDLE_VALUE;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

constexpr DWORD kAppendLockWaitMs = 5000;

// The name of the mutex of one file: its full path, case folded (ASCII, as
// the file system compares), hashed (FNV-1a) to fit a kernel object's name.
std::string AppendLockName(const char* name) {
  char full[MAX_PATH * 4] = {};
  const DWORD length = GetFullPathNameA(name, sizeof full, full, nullptr);
  const std::string path = length > 0 && length < sizeof full ? std::string(full, length) : std::string(name);
  uint64_t hash = 14695981039346656037ull;
  for (char c : path) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '/') c = '\\';
    hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  }
  char text[64];
  snprintf(text, sizeof text, "Local\\tessaro-append-%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

bool Win32FileSystem::Fail() {
  lastError_ = static_cast<uint32_t>(GetLastError());
  return false;
}

bool Win32FileSystem::OpenForRead(const char* name, FileHandle& out) {
  out = kInvalidFileHandle;
  const HANDLE file = OpenDiskFile(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY);
  if (file == INVALID_HANDLE_VALUE) return Fail();
  out = reinterpret_cast<FileHandle>(file);
  return true;
}

uint32_t Win32FileSystem::SizeLow32(FileHandle file) {
  // Without the high part, 0xFFFFFFFF is both the failure value and a real
  // low part; only the last error tells them apart. On failure the size is
  // 0, and the read that follows finds the bytes it does not expect.
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(AsHandle(file), nullptr);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    Fail();
    return 0u;
  }
  return static_cast<uint32_t>(low);
}

bool Win32FileSystem::Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) {
  DWORD got = 0;
  const BOOL ok = ReadFile(AsHandle(file), buffer, lengthBytes, &got, nullptr);
  readBytes = got;
  return ok != FALSE || Fail();
}

void Win32FileSystem::Close(FileHandle file) {
  if (file == kInvalidFileHandle || file == 0) return;
  const auto lock = appendLocks_.find(file);
  if (lock != appendLocks_.end()) {
    if (lock->second != nullptr) CloseHandle(lock->second);
    appendLocks_.erase(lock);
  }
  CloseHandle(AsHandle(file));
}

// The code of the call that failed, taken at that call: whatever runs
// between (the log opening its file for the failure's first line) would
// overwrite GetLastError.
uint32_t Win32FileSystem::LastError() { return lastError_; }

std::string Win32FileSystem::ErrorText(uint32_t error) {
  const std::string words = SystemWords(error);
  return (words.empty() ? "system error" : words) + " (error " + std::to_string(error) + ")";
}

bool Win32FileSystem::Delete(const char* name) {
  const std::wstring wide = name != nullptr ? WidePath(name) : std::wstring();
  if (wide.empty()) return Fail();
  return DeleteFileW(wide.c_str()) != FALSE || Fail();
}

bool Win32FileSystem::OpenForAppend(const char* name, FileHandle& out) {
  out = kInvalidFileHandle;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: the system puts every write at
  // the end of the file, however many processes append.
  const HANDLE file = OpenDiskFile(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) return Fail();
  out = reinterpret_cast<FileHandle>(file);
  appendLocks_[out] = CreateMutexA(nullptr, FALSE, AppendLockName(name).c_str());
  return true;
}

bool Win32FileSystem::Append(FileHandle file, const char* bytes, uint32_t lengthBytes) {
  // Text mode by hand, so that the line still goes out in one write.
  std::string text;
  text.reserve(lengthBytes + lengthBytes / 8 + 2);
  for (uint32_t i = 0; i < lengthBytes; ++i) {
    if (bytes[i] == '\n') text += '\r';
    text += bytes[i];
  }
  // Where the end of the file is found apart from the write (Wine does so),
  // two processes can write at the same end: one mutex per file, between
  // every process that appends to it, makes each line a whole. A holder that
  // hangs delays a line by at most the wait, and never stops it.
  const auto lock = appendLocks_.find(file);
  const HANDLE mutex = lock != appendLocks_.end() ? lock->second : nullptr;
  const DWORD waited = mutex != nullptr ? WaitForSingleObject(mutex, kAppendLockWaitMs) : WAIT_FAILED;
  DWORD written = 0;
  const BOOL ok = WriteFile(AsHandle(file), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  const DWORD error = GetLastError();
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(mutex);
  SetLastError(error);
  return (ok != FALSE && written == text.size()) || Fail();
}

}  // namespace tessaro
