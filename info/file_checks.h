#pragma once
// What the firmware and config commands (and the plans) learn of a file: its
// bytes and digest, and the loader's and the job's checks in the order the
// code runs them, each passed, failed (with tessaro's lines) or not run.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "info/fw_table.h"
#include "update/jobs.h"

namespace tessaro::info {

struct FileFacts {
  bool read = false;
  uint32_t sizeBytes = 0;
  std::string sha256;
  std::unique_ptr<uint8_t[]> bytes;
  // Why the file could not be read, in the system's words where the system
  // gave them; empty when it was read.
  std::string error;
};

// The file's bytes as the loaders read them, through the file seam; the
// loaders' own verdict comes from running them.
FileFacts ReadFileFacts(const std::string& name);

struct Check {
  std::string name;
  std::string result;  // "passed", "failed", "not run"
  std::vector<std::string> reason;
};

constexpr int kNoCheckFailed = -1;

// Checks in the order the code runs them; the one that failed carries the
// lines tessaro logs, those after it did not run.
std::vector<Check> ChecksUpTo(const std::vector<std::string>& names, int failedIndex,
                              const std::vector<std::string>& reason);

struct FirmwareAnalysis {
  FileFacts file;
  FwImage image;
  std::vector<Check> checks;
  FwTable table;
  bool accepted = false;
  int32_t loaderCode = kFwLoaded;
  int32_t tessaroRefusal = kJobDone;  // what tessaro returns for a refused file
  std::vector<std::string> reason;
};

// Runs the loader and the job's own checks of image and mask, as tessaro
// does, and reads the table for the listing.
void AnalyseFirmware(const std::string& name, uint32_t mask, FirmwareAnalysis& out);

struct ConfigAnalysis {
  FileFacts file;
  CfgImage image;
  std::vector<Check> checks;
  std::vector<std::string> warnings;
  bool accepted = false;
  int32_t tessaroRefusal = kJobDone;
  int32_t loaderCode = kCfgLoaded;
  std::vector<std::string> reason;
};

void AnalyseConfig(const std::string& name, ConfigAnalysis& out);

}  // namespace tessaro::info
