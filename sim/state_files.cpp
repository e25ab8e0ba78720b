#include "sim/state_files.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace tessaro::sim {
namespace {

namespace fs = std::filesystem;

enum class ReadResult { kRead, kMissing, kTooLarge, kFailed };

// How often a read or a rename that meets another run replacing the state
// file is tried, 1 ms apart.
constexpr int kReplaceAttempts = 200;

// Far more than any state a person writes; keeps a stray large file out of memory.
constexpr uint64_t kMaxStateFileBytes = 16u << 20;

// Files longer than `maxBytes` are not read at all.
template <typename Bytes>
ReadResult ReadWholeFile(const char* name, uint64_t maxBytes, Bytes& out) {
  std::error_code error;
  const fs::file_status status = fs::status(name, error);
  if (status.type() == fs::file_type::not_found) return ReadResult::kMissing;
  // Anything but a regular file (a FIFO would block the open) is refused.
  if (error || status.type() != fs::file_type::regular) return ReadResult::kFailed;
  // While another run replaces the file, Windows may refuse to open it for
  // a moment (the old one is being deleted): tried again, as the rename.
  std::ifstream file;
  for (int attempt = 0; attempt < kReplaceAttempts && !file.is_open(); ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    file.open(name, std::ios::binary | std::ios::ate);
  }
  if (!file.is_open()) return ReadResult::kFailed;
  const std::streamoff size = file.tellg();
  if (size < 0) return ReadResult::kFailed;
  if (static_cast<uint64_t>(size) > maxBytes) return ReadResult::kTooLarge;
  out.resize(static_cast<size_t>(size));
  file.seekg(0);
  file.read(reinterpret_cast<char*>(out.data()), size);
  return file.gcount() == size ? ReadResult::kRead : ReadResult::kFailed;
}

bool IsReadOnly(const char* name) {
  std::error_code error;
  const fs::file_status status = fs::status(name, error);
  if (error || status.type() != fs::file_type::regular) return false;
  constexpr fs::perms kAnyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  return (status.permissions() & kAnyWrite) == fs::perms::none;
}

}  // namespace

SimFiles ControllerFiles(uint32_t number) {
  SimFiles files;
  if (number <= 1) return files;
  const std::string stem = "tessaro-sim-" + std::to_string(number);
  files.state = stem + ".json";
  files.flash = stem + ".flash";
  files.trace = stem + ".trace";
  files.stateTemp = stem + ".json.new";
  return files;
}

std::string SimFilePath(const std::string& name) {
  const char* dir = std::getenv("TESSARO_SIM_DIR");
  if (dir == nullptr || *dir == '\0') return name;
  return (fs::path(dir) / name).string();
}

bool CheckStatePaths(std::string& error, const SimFiles& files) {
  for (const std::string* name : {&files.state, &files.flash, &files.trace, &files.stateTemp}) {
    std::error_code ignored;
    const std::string path = SimFilePath(*name);
    const fs::file_status status = fs::symlink_status(path, ignored);
    const fs::file_type type = status.type();
    if (type == fs::file_type::not_found || type == fs::file_type::regular) continue;
    // A link is followed to what it names.
    if (type == fs::file_type::symlink) {
      const fs::file_type target = fs::status(path, ignored).type();
      if (target == fs::file_type::not_found || target == fs::file_type::regular) continue;
    }
    error = *name + ": not a regular file";
    return false;
  }
  // A file the user made read-only is kept as it is, not replaced.
  for (const std::string* name : {&files.state, &files.flash}) {
    if (IsReadOnly(SimFilePath(*name).c_str())) {
      error = *name + ": read-only, cannot be written";
      return false;
    }
  }
  return true;
}

bool LoadState(State& state, std::string& error, const SimFiles& files) {
  std::string text;
  switch (ReadWholeFile(SimFilePath(files.state).c_str(), kMaxStateFileBytes, text)) {
    case ReadResult::kFailed:
      error = files.state + ": cannot be read";
      return false;
    case ReadResult::kTooLarge:
      error = files.state + ": larger than " + std::to_string(kMaxStateFileBytes) + " bytes";
      return false;
    case ReadResult::kRead:
      if (!ParseState(text, state, error)) {
        error = files.state + ": " + error;
        return false;
      }
      break;
    case ReadResult::kMissing:
      break;
  }
  return true;
}

bool LoadFlash(Flash& flash, std::string& error, const SimFiles& files) {
  std::vector<uint8_t> bytes;
  switch (ReadWholeFile(SimFilePath(files.flash).c_str(), kFlashBytes, bytes)) {
    case ReadResult::kFailed:
      error = files.flash + ": cannot be read";
      return false;
    case ReadResult::kTooLarge:
      error = files.flash + ": larger than the flash (" + std::to_string(kFlashBytes) + " bytes)";
      return false;
    case ReadResult::kRead:
    case ReadResult::kMissing:
      flash.Load(std::move(bytes));
      break;
  }
  return true;
}

bool LoadStateFiles(State& state, Flash& flash, std::string& error) {
  return LoadState(state, error) && LoadFlash(flash, error);
}

bool SaveState(const State& state, uint16_t buildVendorId, std::string& error, const SimFiles& files) {
  error = files.state + ": cannot be written";
  const std::string path = SimFilePath(files.state);
  const std::string temp = SimFilePath(files.stateTemp);
  if (IsReadOnly(path.c_str())) {
    error = files.state + ": read-only, cannot be written";
    return false;
  }
  const std::string text = SerializeState(state, buildVendorId);
  std::error_code ignored;
  fs::remove(temp, ignored);
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return false;
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (file.fail()) {
      fs::remove(temp, ignored);
      return false;
    }
  }
  // Windows refuses to replace a file that another process has open for
  // reading (a run starting up reads the state before it may take the
  // lock); such a read takes microseconds, so the rename is tried again.
  std::error_code renameError;
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    fs::rename(temp, path, renameError);
    if (!renameError) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (renameError) {
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

bool SaveFlashRange(const Flash& flash, size_t begin, size_t end, std::string& error, const SimFiles& files) {
  const std::vector<uint8_t>& bytes = flash.Bytes();
  if (end > bytes.size()) end = bytes.size();
  if (begin >= end) return true;
  // One write of the whole range: the stream's buffer is flushed only at the
  // end, and a range longer than the buffer goes out in one call.
  std::fstream file(SimFilePath(files.flash), std::ios::binary | std::ios::in | std::ios::out);
  if (file.is_open()) {
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.seekp(static_cast<std::streamoff>(begin));
    file.write(reinterpret_cast<const char*>(bytes.data() + begin), static_cast<std::streamsize>(end - begin));
    file.close();
    if (!file.fail()) return true;
  }
  error = files.flash + ": cannot be written";
  return false;
}

}  // namespace tessaro::sim
