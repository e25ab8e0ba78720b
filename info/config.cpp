// tessaro-info config FILE: the configuration's checks, as the loader and
// the configuration job run them, and what the controller would be given.
#include <cstdio>

#include "info/commands.h"
#include "info/file_checks.h"
#include "info/info_command.h"
#include "info/line_capture.h"
#include "info/output.h"
#include "transport/registers.h"
#include "update/decisions.h"

namespace tessaro::info {
namespace {

const std::vector<std::string> kCfgChecks = {"file read", "tokens", "checksum", "fits the register space"};

// The check each of the loader's refusals fails; the rest fail reading the file.
int FailedLoaderCheck(int32_t loaderCode) {
  switch (loaderCode) {
    case kCfgErrOverflow:
    case kCfgErrNoData: return 1;
    case kCfgErrChecksum: return 2;
    default: return 0;
  }
}

uint8_t ByteSum(const CfgImage& image) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < image.length; ++i) sum = static_cast<uint8_t>(sum + image.data[i]);
  return sum;
}

}  // namespace

void AnalyseConfig(const std::string& name, ConfigAnalysis& out) {
  out.file = ReadFileFacts(name);
  LineCapture capture;
  const int32_t loaded = out.image.LoadCfgFile(name.c_str());
  out.loaderCode = loaded;
  std::vector<std::string> lines = capture.Take();
  // The count line reports a file of fewer than two tokens and does not stop
  // the load: a warning unless the load failed.
  int failed = kNoCheckFailed;
  if (loaded != kCfgLoaded) {
    failed = FailedLoaderCheck(loaded);
    out.reason = lines;
    out.tessaroRefusal = kCfgJobFileRefused;
  } else {
    out.warnings = lines;
    if (!CfgFitsRegisterSpace(out.image)) {
      failed = 3;
      out.reason = capture.Take();
      out.tessaroRefusal = kCfgJobTooLong;
    }
  }
  out.checks = ChecksUpTo(kCfgChecks, failed, out.reason);
  out.accepted = failed == kNoCheckFailed;
}

int RunConfig(const InfoOptions& options, const std::string& name, HidDiagnosis&) {
  ConfigAnalysis analysis;
  AnalyseConfig(name, analysis);
  const CfgImage& image = analysis.image;
  const bool loaded = image.valid != 0;
  const bool fits = loaded && image.length <= reg::kConfigMaxBytes;
  const int exitCode = analysis.accepted ? kExitOk : kExitRefused;
  if (options.json) {
    Json json = {{"command", "config"}};
    json.update(FileJson(name, analysis.file));
    json["checks"] = ChecksJson(analysis.checks);
    json["tokens"] = loaded ? Json(image.length) : Json(nullptr);
    json["version"] = loaded ? Json(image.version) : Json(nullptr);
    json["keptInFlash"] = loaded ? Json((image.version & 0x80) != 0) : Json(nullptr);
    json["checksum"] = loaded ? Json(ByteSum(image)) : Json(nullptr);
    json["fitsRegisterSpace"] = loaded ? Json(fits) : Json(nullptr);
    json["maxLength"] = reg::kConfigMaxBytes;
    json["warnings"] = analysis.warnings;
    json["accepted"] = analysis.accepted;
    json["exitCode"] = exitCode;
    PrintJson(json);
    return exitCode;
  }
  PrintFile(name, analysis.file);
  PrintChecks(analysis.checks);
  if (loaded) {
    std::printf("tokens: %u\nlength: %u bytes\nversion: %s\nchecksum: 0x%02X (the bytes sum to 0)\n", image.length,
                image.length, CfgVersionText(image.version).c_str(), ByteSum(image));
    std::printf("register space: %s (at most %u bytes from 0x8050)\n", fits ? "fits" : "too long",
                reg::kConfigMaxBytes);
  }
  for (const std::string& warning : analysis.warnings) std::printf("warning: %s\n", warning.c_str());
  std::printf("verdict: %s\n", analysis.accepted ? "accepted" : "refused");
  return exitCode;
}

}  // namespace tessaro::info
