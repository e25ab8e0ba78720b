#pragma once
// The wire trace: one line per HID event or sleep, as tessaro-sim writes it
// and as TESSARO_TRACE records it from any build. Both write through this
// one piece of code, so that a field run and a simulator run compare line
// by line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessaro::trace {

// Lower-case hex, two digits per byte, no separators.
std::string Hex(const uint8_t* bytes, size_t count);

std::string Walk();
// Paths are written as UTF-8; the paths of every backend are ASCII.
std::string Open(const std::wstring& path);
std::string Close(const std::wstring& path);
// The whole 65-byte report.
std::string Out(const uint8_t* report, size_t count, bool delivered);
std::string In(const uint8_t* report, size_t count);
std::string InFailed();
std::string Sleep(uint32_t sleepMs);

// A trace file, rewritten from its first line on. It is opened at the first
// line written, so a run that records nothing leaves any earlier file alone.
// Each line reaches the file at once, except the reports of a register write
// with more to come: a 4096-byte write is 75 reports, and a system call for
// each would cost more than all the tool's own work. So the file is whole
// whenever no write is under way, and a run that ends abruptly loses at most
// the reports of the write it was in the middle of. A file that cannot be
// written is reported once on standard error ("PATH: cannot be written") and
// then left alone.
class File {
 public:
  explicit File(std::string path) : path_(std::move(path)) {}
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens (and empties) the file now if no line has done so yet.
  void Open();
  void Write(const std::string& line);

 private:
  void Fail();

  std::string path_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace tessaro::trace
