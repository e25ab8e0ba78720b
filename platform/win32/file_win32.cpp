#include "platform/win32/file_win32.h"

#include <windows.h>

namespace tessaro {
namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace


bool Win32FileSystem::OpenForRead(const char* name, FileHandle& out) {
  out = kInvalidFileHandle;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
  out = reinterpret_cast<FileHandle>(file);
  return true;
}

uint32_t Win32FileSystem::SizeLow32(FileHandle file) {
  // Without the high part, 0xFFFFFFFF is both the failure value and a real
  // low part; only the last error tells them apart. On failure the size is
  // 0, and the read that follows finds the bytes it does not expect.
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(AsHandle(file), nullptr);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0u;
  return static_cast<uint32_t>(low);
}

bool Win32FileSystem::Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) {
  DWORD got = 0;
  const BOOL ok = ReadFile(AsHandle(file), buffer, lengthBytes, &got, nullptr);
  readBytes = got;
  return ok != FALSE;
}

void Win32FileSystem::Close(FileHandle file) {
  if (file != kInvalidFileHandle && file != 0) CloseHandle(AsHandle(file));
}

uint32_t Win32FileSystem::LastError() { return static_cast<uint32_t>(GetLastError()); }

bool Win32FileSystem::Delete(const char* name) {
  wchar_t wide[128] = {};
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 128) == 0) return false;
  return DeleteFileW(wide) != FALSE;
}

}  // namespace tessaro
