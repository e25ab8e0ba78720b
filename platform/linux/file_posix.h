#pragma once
#include "base/file.h"

namespace tessaro {

class PosixFileSystem final : public FileSystem {
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
};

}  // namespace tessaro
