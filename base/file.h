#pragma once
// The file seam: what the image loaders and the log need of the platform's
// files beyond the standard streams. One implementation per platform.
#include <cstdint>
#include <string>

namespace tessaro {

using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidFileHandle = -1;

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file for reading, shared with other readers only.
  virtual bool OpenForRead(const char* name, FileHandle& out) = 0;
  // The low 32 bits of the file's size.
  virtual uint32_t SizeLow32(FileHandle file) = 0;
  // One read request; false when the platform reports failure.
  virtual bool Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) = 0;
  virtual void Close(FileHandle file) = 0;
  // The platform's last error code (GetLastError, errno).
  virtual uint32_t LastError() = 0;
  // A LastError() code in the system's words, for a person to read; the
  // number alone where the platform has no words for it.
  virtual std::string ErrorText(uint32_t error) { return "error " + std::to_string(error); }
  // Deletes a file named in the narrow (ANSI) encoding; callers may ignore the result.
  virtual bool Delete(const char* name) = 0;
  // Opens a log for appending, creating it when missing, without ever
  // waiting: a FIFO without a reader cannot be opened (with one, the log
  // streams to it, and a write its reader has no room for fails at once with
  // a code that output::WouldWait knows), and on Windows only a disk file can.
  virtual bool OpenForAppend(const char* name, FileHandle& out) = 0;
  // Appends the bytes with one write, so that the lines of processes
  // appending to one file at the same time never mix. Text mode: on
  // Windows every "\n" reaches the file as "\r\n".
  virtual bool Append(FileHandle file, const char* bytes, uint32_t lengthBytes) = 0;
};

// The installed file system; returns the one installed before. nullptr
// installs one on which every call fails.
FileSystem& TheFileSystem();
FileSystem* InstallFileSystem(FileSystem* files);

}  // namespace tessaro
