#pragma once
// The wire trace: one line per HID event or sleep, as tessaro-sim writes it
// and as TESSARO_TRACE records it from any build. Both write through this
// one piece of code, so that a field run and a simulator run compare line
// by line.
#include <cstddef>
#include <cstdint>
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

// A trace file, emptied when it is opened and appended to from then on, so
// that the lines of a run that another run's let through land after them
// rather than over them. It is opened at the first line written (or by
// Open), so a run that records nothing leaves any earlier file alone.
// Each line reaches the file at once, except the reports of a register write
// with more to come: a 4096-byte write is 75 reports, and a system call for
// each would cost more than all the tool's own work. So the file is whole
// whenever no write is under way, and a run that ends abruptly loses at most
// the reports of the write it was in the middle of.
// The file never makes the run wait: lines that a FIFO's reader has no room
// for are dropped, and their number is said on standard error when the file
// is closed ("NAME: N lines dropped, its reader did not keep up"). A file
// that cannot be opened or written is reported once on standard error
// ("NAME: cannot be written (REASON)", NAME being the path unless another is
// given) and then left alone.
class File {
 public:
  // Whether the first open empties the file or keeps what earlier runs wrote.
  enum class Start { kEmptied, kAppended };

  explicit File(std::string path) : path_(std::move(path)), shownName_(path_) {}
  File(std::string path, std::string shownName, Start start = Start::kEmptied)
      : path_(std::move(path)), shownName_(std::move(shownName)), start_(start) {}
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens (and, unless kAppended, empties) the file now if no line has done
  // so yet.
  void Open();
  void Write(const std::string& line);
  // Hands everything written so far to the system, for a process about to
  // end without its destructors.
  void Flush();

 private:
  void Fail(const std::string& reason);

  std::string path_;
  std::string shownName_;
  Start start_ = Start::kEmptied;
  std::intptr_t file_ = -1;
  std::string pending_;
  uint64_t dropped_ = 0;
  bool failed_ = false;
};

}  // namespace tessaro::trace
