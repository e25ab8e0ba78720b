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

bool IsHexDigit(uint8_t byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

bool IsSeparator(uint8_t byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == ',';
}

// The loader takes every 'x' or 'X' in the file as the start of a byte and
// skips everything else, so any text loads as something: a warning when the
// text is not 0xHH tokens between commas and blanks, the loader's rule
// unchanged. Empty when it is.
std::string TokenWarning(const uint8_t* text, uint32_t length) {
  uint32_t loose = 0;  // markers the loader counts outside a 0xHH token
  uint32_t stray = 0;  // other bytes outside tokens and separators
  uint32_t tokens = 0;
  uint32_t line = 1;
  uint32_t column = 1;
  uint32_t firstLine = 0;
  uint32_t firstColumn = 0;
  for (uint32_t i = 0; i < length;) {
    const bool token = length - i >= 4 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
                       IsHexDigit(text[i + 2]) && IsHexDigit(text[i + 3]) &&
                       (i + 4 == length || IsSeparator(text[i + 4]));
    if (token) {
      ++tokens;
      i += 4;
      column += 4;
      continue;
    }
    const uint8_t byte = text[i];
    if (!IsSeparator(byte)) {
      if (byte == 'x' || byte == 'X') {
        ++loose;
      } else {
        ++stray;
      }
      if (firstLine == 0) {
        firstLine = line;
        firstColumn = column;
      }
    }
    if (byte == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
    ++i;
  }
  if (firstLine == 0) return "";
  std::string warning = "the text is not only 0xHH tokens (first other text at line " + std::to_string(firstLine) +
                        ", column " + std::to_string(firstColumn) + "): ";
  if (loose != 0) {
    return warning + "the loader takes every 'x' as the start of a byte, so " + std::to_string(loose) + " of its " +
           std::to_string(loose + tokens) + " bytes come from other text";
  }
  return warning + std::to_string(stray) + " characters outside the tokens are skipped";
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
  if (out.file.read) {
    const std::string tokens = TokenWarning(out.file.bytes.get(), out.file.sizeBytes);
    if (!tokens.empty()) out.warnings.push_back(tokens);
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
  for (const std::string& warning : analysis.warnings) std::printf("warning: %s\n", Printable(warning).c_str());
  std::printf("verdict: %s\n", analysis.accepted ? "accepted" : "refused");
  return exitCode;
}

}  // namespace tessaro::info
