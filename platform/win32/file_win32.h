#pragma once
#include <map>

#include "base/file.h"

namespace tessaro {

class Win32FileSystem final : public FileSystem {
 public:
  bool OpenForRead(const char* name, FileHandle& out) override;
  uint32_t SizeLow32(FileHandle file) override;
  bool Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) override;
  void Close(FileHandle file) override;
  uint32_t LastError() override;
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
