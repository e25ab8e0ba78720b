#pragma once
#include <map>
#include <string>

#include "base/file.h"

namespace tessaro {

// The name in the active code page (UTF-8 under the program's manifest) as
// the wide path CreateFileW takes. Where the full path is too long for the
// classic limit, the full path with the \\?\ prefix, which lifts the limit on
// every Windows, whether or not long paths are enabled for the system.
// Empty when the name cannot be converted; the last error then says why.
std::wstring WidePath(const char* name);

class Win32FileSystem final : public FileSystem {
 public:
  bool OpenForRead(const char* name, FileHandle& out) override;
  uint32_t SizeLow32(FileHandle file) override;
  bool Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) override;
  void Close(FileHandle file) override;
  uint32_t LastError() override;
  std::string ErrorText(uint32_t error) override;
  bool Delete(const char* name) override;
  bool OpenForAppend(const char* name, FileHandle& out) override;
  bool Append(FileHandle file, const char* bytes, uint32_t lengthBytes) override;

 private:
  // Keeps GetLastError of the call that failed; always false.
  bool Fail();
  uint32_t lastError_ = 0;
  // The mutex that every process appending to the same file shares, per
  // handle opened by OpenForAppend.
  std::map<FileHandle, void*> appendLocks_;
};

}  // namespace tessaro
