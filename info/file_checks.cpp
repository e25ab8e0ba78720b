#include "info/file_checks.h"

#include <new>

#include "base/sha256.h"
#include "images/whole_file.h"

namespace tessaro::info {

FileFacts ReadFileFacts(const std::string& name) {
  FileFacts facts;
  OpenedFile file;
  FileSystem& files = TheFileSystem();
  // The loaders say only that the open failed; a person needs to know why.
  if (!file.Open(name.c_str())) {
    facts.error = "cannot be opened: " + files.ErrorText(files.LastError());
    return facts;
  }
  facts.sizeBytes = files.SizeLow32(file.handle());
  facts.bytes.reset(new (std::nothrow) uint8_t[facts.sizeBytes == 0 ? 1 : facts.sizeBytes]);
  if (!facts.bytes) {
    facts.error = "not enough memory for its " + std::to_string(facts.sizeBytes) + " bytes";
    return facts;
  }
  const WholeRead read = ReadWholeFile(file.handle(), facts.bytes.get(), facts.sizeBytes);
  if (read.result == WholeRead::Result::kFailed) {
    facts.error = "cannot be read: " + files.ErrorText(read.error);
    return facts;
  }
  if (read.result == WholeRead::Result::kCountDiffers) {
    facts.error = "cannot be read whole: it does not hold the " + std::to_string(facts.sizeBytes) +
                  " bytes its size says (4 GiB or more, or changing while read)";
    return facts;
  }
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
