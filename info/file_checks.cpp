#include "info/file_checks.h"

#include <new>

#include "base/sha256.h"
#include "images/whole_file.h"

namespace tessaro::info {

FileFacts ReadFileFacts(const std::string& name) {
  FileFacts facts;
  OpenedFile file;
  if (!file.Open(name.c_str())) return facts;
  facts.sizeBytes = TheFileSystem().SizeLow32(file.handle());
  facts.bytes.reset(new (std::nothrow) uint8_t[facts.sizeBytes == 0 ? 1 : facts.sizeBytes]);
  if (!facts.bytes) return facts;
  if (ReadWholeFile(file.handle(), facts.bytes.get(), facts.sizeBytes).result != WholeRead::Result::kOk) return facts;
  facts.read = true;
  facts.sha256 = Sha256Hex(facts.bytes.get(), facts.sizeBytes);
  return facts;
}

std::vector<Check> ChecksUpTo(const std::vector<std::string>& names, int failedIndex,
                              const std::vector<std::string>& reason) {
  std::vector<Check> checks;
  for (size_t i = 0; i < names.size(); ++i) {
    const int index = static_cast<int>(i);
    const char* result = failedIndex == kNoCheckFailed || index < failedIndex ? "passed"
                         : index == failedIndex                               ? "failed"
                                                                              : "not run";
    checks.push_back(Check{names[i], result, index == failedIndex ? reason : std::vector<std::string>{}});
  }
  return checks;
}

}  // namespace tessaro::info
