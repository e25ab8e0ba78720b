#include "sim/state_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessaro::sim {
namespace {

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadWholeFile(const char* name, std::string& out) {
  std::ifstream file(name, std::ios::binary);
  if (!file.is_open()) {
    // A file that exists but cannot be read must not pass for a fresh start.
    std::error_code ignored;
    return std::filesystem::exists(name, ignored) ? ReadResult::kFailed : ReadResult::kMissing;
  }
  out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return file.bad() ? ReadResult::kFailed : ReadResult::kRead;
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
  switch (ReadWholeFile(kStateFileName, text)) {
    case ReadResult::kFailed:
      error = std::string(kStateFileName) + ": cannot be read";
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
  switch (ReadWholeFile(kFlashFileName, bytes)) {
    case ReadResult::kFailed:
      error = std::string(kFlashFileName) + ": cannot be read";
      return false;
    case ReadResult::kRead:
      if (!flash.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()))) {
        error = std::string(kFlashFileName) + ": larger than the flash (" + std::to_string(kFlashBytes) + " bytes)";
        return false;
      }
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
