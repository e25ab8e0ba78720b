#pragma once
// A fresh folder under the system's temporary folder, removed with all its
// files when the object ends; optionally made the current directory.
#include <string>

namespace tessaro::testing {

class TempDir {
 public:
  explicit TempDir(bool enter = false);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string previousCwd_;
};

// Whole-file helpers in binary mode.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace tessaro::testing
