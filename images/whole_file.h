#pragma once
// Reading an image file whole through the file seam: the part both loaders
// share. The loaders keep their own messages; this only reports what
// happened.
#include <cstdint>

#include "base/file.h"

namespace tessaro {

// An open file of the installed file system, closed when the object ends.
class OpenedFile {
 public:
  OpenedFile() = default;
  ~OpenedFile();
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  // Existing files only, shared with other readers.
  bool Open(const char* name);
  FileHandle handle() const { return handle_; }

 private:
  FileHandle handle_ = kInvalidFileHandle;
};

struct WholeRead {
  enum class Result { kOk, kFailed, kCountDiffers };
  Result result = Result::kFailed;
  // Bytes the file delivered: lengthBytes when kOk; fewer, or lengthBytes + 1
  // when the file holds more than its reported size, for kCountDiffers.
  uint32_t readBytes = 0;
  // The platform's last-error code, taken right after the failing call.
  uint32_t error = 0;
};

// One read request of lengthBytes into buffer, which holds lengthBytes.
// The size a loader gets is only the low 32 bits of the real one, so a
// file of 4 GiB or more (or one that grew meanwhile) would otherwise pass
// as its first bytes: a one-byte read after the request tells whether
// anything follows, without ever writing past buffer.
WholeRead ReadWholeFile(FileHandle file, uint8_t* buffer, uint32_t lengthBytes);

}  // namespace tessaro
