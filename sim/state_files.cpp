#include "sim/state_files.h"

#include <filesystem>
#include <fstream>

namespace tessaro::sim {
namespace {

enum class ReadResult { kRead, kMissing, kTooLarge, kFailed };

// Far more than any state a person writes; keeps a stray large file out of memory.
constexpr uint64_t kMaxStateFileBytes = 16u << 20;

// Files longer than `maxBytes` are not read at all.
ReadResult ReadWholeFile(const char* name, uint64_t maxBytes, std::string& out) {
  std::ifstream file(name, std::ios::binary | std::ios::ate);
  if (!file.is_open()) {
    // A file that exists but cannot be read must not pass for a fresh start.
    std::error_code ignored;
    return std::filesystem::exists(name, ignored) ? ReadResult::kFailed : ReadResult::kMissing;
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(name, error)) return ReadResult::kFailed;
  const std::streamoff size = file.tellg();
  if (size < 0) return ReadResult::kFailed;
  if (static_cast<uint64_t>(size) > maxBytes) return ReadResult::kTooLarge;
  out.resize(static_cast<size_t>(size));
  file.seekg(0);
  file.read(out.data(), size);
  return file.gcount() == size ? ReadResult::kRead : ReadResult::kFailed;
}

bool WriteWholeFile(const char* name, const char* bytes, size_t count) {
  std::ofstream file(name, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return false;
  file.write(bytes, static_cast<std::streamsize>(count));
  file.close();
  return !file.fail();
}

}  // namespace

bool LoadStateFiles(State& state, Flash& flash, std::string& error) {
  std::string text;
  switch (ReadWholeFile(kStateFileName, kMaxStateFileBytes, text)) {
    case ReadResult::kFailed:
      error = std::string(kStateFileName) + ": cannot be read";
      return false;
    case ReadResult::kTooLarge:
      error = std::string(kStateFileName) + ": larger than " + std::to_string(kMaxStateFileBytes) + " bytes";
      return false;
    case ReadResult::kRead:
      if (!ParseState(text, state, error)) {
        error = std::string(kStateFileName) + ": " + error;
        return false;
      }
      break;
    case ReadResult::kMissing:
      break;
  }

  std::string bytes;
  switch (ReadWholeFile(kFlashFileName, kFlashBytes, bytes)) {
    case ReadResult::kFailed:
      error = std::string(kFlashFileName) + ": cannot be read";
      return false;
    case ReadResult::kTooLarge:
      error = std::string(kFlashFileName) + ": larger than the flash (" + std::to_string(kFlashBytes) + " bytes)";
      return false;
    case ReadResult::kRead:
      flash.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()));
      break;
    case ReadResult::kMissing:
      break;
  }
  return true;
}

bool SaveStateFiles(const State& state, const Flash& flash, uint16_t buildVendorId, std::string& error) {
  const std::string text = SerializeState(state, buildVendorId);
  if (!WriteWholeFile(kStateFileName, text.data(), text.size())) {
    error = std::string(kStateFileName) + ": cannot be written";
    return false;
  }
  const std::vector<uint8_t>& bytes = flash.Bytes();
  if (!WriteWholeFile(kFlashFileName, reinterpret_cast<const char*>(bytes.data()), bytes.size())) {
    error = std::string(kFlashFileName) + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace tessaro::sim
