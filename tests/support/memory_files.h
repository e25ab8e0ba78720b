#pragma once
// A file system held in memory, installed for the life of the object, with
// the read faults a loader must survive: a failing open or read, a short
// read, and a size that differs from the bytes the file holds (as the low
// 32 bits of a file of 4 GiB or more do). Counts what it was asked.
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/seams.h"

namespace tessaro::testing {

class MemoryFileSystem final : public FileSystem {
 public:
  MemoryFileSystem() = default;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  bool OpenForRead(const char* name, FileHandle& out) override {
    out = kInvalidFileHandle;
    ++opens;
    const auto found = name != nullptr ? files.find(name) : files.end();
    if (found == files.end()) {
      lastError_ = openError;
      return false;
    }
    // Closed slots are taken again, so a long run (a fuzzer's) stays small.
    size_t slot = 0;
    while (slot < open_.size() && open_[slot].isOpen) ++slot;
    if (slot == open_.size()) open_.emplace_back();
    open_[slot] = Open{found->first, 0, true};
    ++openHandles;
    out = static_cast<FileHandle>(slot);
    return true;
  }

  uint32_t SizeLow32(FileHandle file) override {
    if (reportedSize) return *reportedSize;
    const Open* open = Find(file);
    return open != nullptr ? static_cast<uint32_t>(files[open->name].size()) : 0;
  }

  bool Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) override {
    readBytes = 0;
    ++reads;
    if (requested.size() < kRequestsKept) requested.push_back(lengthBytes);
    Open* open = Find(file);
    if (open == nullptr || (failReadNumber != 0 && reads == failReadNumber)) {
      lastError_ = readError;
      return false;
    }
    const std::string& bytes = files[open->name];
    uint64_t left = bytes.size() > open->position ? bytes.size() - open->position : 0;
    if (readLimit && left > *readLimit) left = *readLimit;
    const uint32_t count = static_cast<uint32_t>(left < lengthBytes ? left : lengthBytes);
    if (count != 0) std::memcpy(buffer, bytes.data() + open->position, count);
    open->position += count;
    readBytes = count;
    return true;
  }

  void Close(FileHandle file) override {
    Open* open = Find(file);
    if (open == nullptr) {
      ++badCloses;
      return;
    }
    open->isOpen = false;
    --openHandles;
  }

  uint32_t LastError() override { return lastError_; }
  bool Delete(const char* name) override { return name != nullptr && files.erase(name) != 0; }
  // Logs are real files or none: tests that keep one install the platform's.
  bool OpenForAppend(const char*, FileHandle& out) override {
    out = kInvalidFileHandle;
    return false;
  }
  bool Append(FileHandle, const char*, uint32_t) override { return false; }

  std::map<std::string, std::string> files;

  // Faults: the open error code; the read call (counted from 1 over the
  // object's life) that fails, with its error code; at most this many bytes
  // per read; the size SizeLow32 answers instead of the file's.
  uint32_t openError = 2;
  uint32_t failReadNumber = 0;
  uint32_t readError = 5;
  std::optional<uint32_t> readLimit;
  std::optional<uint32_t> reportedSize;

  // What happened: opens asked for, handles still open, read calls and the
  // length each of the first ones asked for, closes of handles that were not
  // open.
  static constexpr size_t kRequestsKept = 64;
  int opens = 0;
  int openHandles = 0;
  uint32_t reads = 0;
  std::vector<uint32_t> requested;
  int badCloses = 0;

 private:
  struct Open {
    std::string name;
    uint64_t position = 0;
    bool isOpen = false;
  };

  Open* Find(FileHandle file) {
    if (file < 0 || static_cast<uint64_t>(file) >= open_.size()) return nullptr;
    Open& open = open_[static_cast<size_t>(file)];
    return open.isOpen ? &open : nullptr;
  }

  Installed<FileSystem> installed_{this};
  std::vector<Open> open_;
  uint32_t lastError_ = 0;
};

}  // namespace tessaro::testing
