#include "base/trace.h"

#include <algorithm>
#include <cstdio>

#include "base/hex.h"
#include "base/hid.h"
#include "base/output_file.h"

namespace tessaro::trace {
namespace {

// Report ID 0x0E, register access 0x20 and the more-follows flag 0x01.
bool IsWriteReportWithMoreToCome(const std::string& line) { return line.compare(0, 10, "out 0e2001") == 0; }

// Enough for every report of a 4096-byte register write, held until its last.
constexpr size_t kBufferBytes = 64 * 1024;

// wchar_t is UTF-16 on Windows and UTF-32 elsewhere; a lone surrogate is
// written as the code unit it is, never dropped.
std::string Utf8(const std::wstring& path) {
  std::string text;
  text.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(path[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < path.size()) {
      const uint32_t low = static_cast<uint32_t>(path[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(text, c);
  }
  return text;
}

std::string WithHex(const char* head, const uint8_t* bytes, size_t count) { return head + HexBytes(bytes, count); }

}  // namespace

std::string Hex(const uint8_t* bytes, size_t count) { return WithHex("", bytes, count); }

std::string Walk() { return "walk"; }
std::string Open(const std::wstring& path) { return "open " + Utf8(path); }
std::string Close(const std::wstring& path) { return "close " + Utf8(path); }

std::string Out(const uint8_t* report, size_t count, bool delivered) {
  return WithHex(delivered ? "out " : "out-failed ", report, count);
}

std::string In(const uint8_t* report, size_t count) { return WithHex("in ", report, count); }
std::string InFailed() { return "in-failed"; }
std::string Sleep(uint32_t sleepMs) { return "sleep " + std::to_string(sleepMs); }

File::~File() {
  if (file_ == output::kNoHandle) return;
  Flush();
  output::Close(file_);
  if (dropped_ != 0) {
    std::fprintf(stderr, "%s: %llu lines dropped, its reader did not keep up\n", shownName_.c_str(),
                 static_cast<unsigned long long>(dropped_));
  }
}

void File::Open() {
  if (failed_ || file_ != output::kNoHandle) return;
  std::string reason;
  file_ = output::OpenEmptied(path_, reason, start_ == Start::kAppended);
  if (file_ == output::kNoHandle) Fail(reason);
}

void File::Write(const std::string& line) {
  Open();
  if (failed_) return;
  pending_ += line;
  pending_ += '\n';
  if (!IsWriteReportWithMoreToCome(line) || pending_.size() >= kBufferBytes) Flush();
}

void File::Flush() {
  if (failed_ || file_ == output::kNoHandle) return;
  // In pieces of whole lines that a FIFO takes whole or not at all, so that
  // a reader that falls behind loses lines, never parts of one.
  size_t from = 0;
  while (from < pending_.size()) {
    size_t to = pending_.size();
    if (to - from > output::kWholeWriteBytes) {
      to = pending_.rfind('\n', from + output::kWholeWriteBytes - 1) + 1;
      if (to <= from) to = pending_.find('\n', from) + 1;  // a line longer than a piece
    }
    std::string reason;
    switch (output::Write(file_, pending_.data() + from, to - from, reason)) {
      case output::Written::kWhole:
        break;
      case output::Written::kWouldWait:
        dropped_ += static_cast<uint64_t>(std::count(pending_.begin() + static_cast<std::ptrdiff_t>(from),
                                                     pending_.begin() + static_cast<std::ptrdiff_t>(to), '\n'));
        break;
      case output::Written::kFailed:
        pending_.clear();
        return Fail(reason);
    }
    from = to;
  }
  pending_.clear();
}

void File::Fail(const std::string& reason) {
  failed_ = true;
  if (file_ != output::kNoHandle) output::Close(file_);
  file_ = output::kNoHandle;
  std::fprintf(stderr, "%s: cannot be written (%s)\n", shownName_.c_str(), reason.c_str());
}

}  // namespace tessaro::trace
