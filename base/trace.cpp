#include "base/trace.h"

#include "base/hex.h"

namespace tessaro::trace {
namespace {

// Report ID 0x0E, register access 0x20 and the more-follows flag 0x01.
bool IsWriteReportWithMoreToCome(const std::string& line) { return line.compare(0, 10, "out 0e2001") == 0; }

// Enough for every report of a 4096-byte register write, held until its last.
constexpr size_t kBufferBytes = 64 * 1024;

void AppendUtf8(std::string& text, uint32_t c) {
  if (c < 0x80) {
    text.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    text.push_back(static_cast<char>(0xC0 | c >> 6));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    text.push_back(static_cast<char>(0xE0 | c >> 12));
    text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    text.push_back(static_cast<char>(0xF0 | c >> 18));
    text.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

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
  if (file_ != nullptr) std::fclose(file_);
}

void File::Open() {
  if (failed_ || file_ != nullptr) return;
  // Binary: LF line ends on every platform.
  if (start_ == Start::kEmptied) {
    std::FILE* emptied = std::fopen(path_.c_str(), "wb");
    if (emptied == nullptr || std::fclose(emptied) != 0) return Fail();
  }
  file_ = std::fopen(path_.c_str(), "ab");
  if (file_ == nullptr) return Fail();
  std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
}

void File::Write(const std::string& line) {
  Open();
  if (failed_) return;
  const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fputc('\n', file_) != EOF;
  if (!written || (!IsWriteReportWithMoreToCome(line) && std::fflush(file_) != 0)) Fail();
}

void File::Flush() {
  if (file_ != nullptr) std::fflush(file_);
}

void File::Fail() {
  failed_ = true;
  std::fprintf(stderr, "%s: cannot be written\n", shownName_.c_str());
}

}  // namespace tessaro::trace
