#include "images/whole_file.h"

#include "base/run_record.h"

namespace tessaro {

OpenedFile::~OpenedFile() {
  if (handle_ != kInvalidFileHandle) TheFileSystem().Close(handle_);
}

bool OpenedFile::Open(const char* name) {
  FileHandle opened = kInvalidFileHandle;
  if (!TheFileSystem().OpenForRead(name, opened)) return false;
  handle_ = opened;
  return true;
}

WholeRead ReadWholeFile(FileHandle file, uint8_t* buffer, uint32_t lengthBytes) {
  FileSystem& files = TheFileSystem();
  WholeRead outcome;
  uint32_t got = 0;
  if (!files.Read(file, buffer, lengthBytes, got)) {
    outcome.error = files.LastError();
    return outcome;
  }
  outcome.readBytes = got;
  if (got != lengthBytes) {
    outcome.result = WholeRead::Result::kCountDiffers;
    return outcome;
  }
  uint8_t beyond = 0;
  uint32_t gotBeyond = 0;
  if (!files.Read(file, &beyond, 1, gotBeyond)) {
    outcome.error = files.LastError();
    return outcome;
  }
  if (gotBeyond != 0) {
    outcome.result = WholeRead::Result::kCountDiffers;
    if (outcome.readBytes != UINT32_MAX) outcome.readBytes += 1;
    return outcome;
  }
  outcome.result = WholeRead::Result::kOk;
  NoteFileRead(buffer, lengthBytes);
  return outcome;
}

}  // namespace tessaro
