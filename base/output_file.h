#pragma once
// Files a run writes beside its job (the wire trace) and the words for the
// errors of the files it writes. Such a file must never make the job wait:
// a FIFO whose reader stops reading would otherwise hold the controller in
// its update program for as long as the reader sleeps. One implementation
// per platform, chosen by the build.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaro::output {

using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

enum class Written {
  kWhole,
  kWouldWait,  // a FIFO's reader is not keeping up: nothing was written
  kFailed,     // the file takes no more (full disk, a size limit, an I/O error)
};

// Opens the file for binary appends, emptied first unless `keep` (a trace
// that several programs add to), without ever waiting: a FIFO without a
// reader cannot be opened, and one with a reader never makes a write wait.
// Only a regular file or a FIFO is taken (on Windows a file on a disk, never
// a device name such as COM1 or NUL). kNoHandle on failure, with `reason`
// saying why.
Handle OpenEmptied(const std::string& path, std::string& reason, bool keep = false);

// One write of the bytes. A write of at most kWholeWriteBytes reaches a FIFO
// whole or not at all.
Written Write(Handle file, const char* bytes, size_t lengthBytes, std::string& reason);
constexpr size_t kWholeWriteBytes = 4096;

void Close(Handle file);

// The platform's error code (errno, GetLastError) in the system's words.
std::string ErrorText(uint32_t error);

// Whether the code says a write would have had to wait for a reader.
bool WouldWait(uint32_t error);

}  // namespace tessaro::output
