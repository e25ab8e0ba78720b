// tessaro-info firmware FILE: the image's checks, as the loader and the
// firmware job run them, and its sub-firmware table under the mask.
#include <cstdio>

#include "info/commands.h"
#include "info/file_checks.h"
#include "info/info_command.h"
#include "info/line_capture.h"
#include "info/output.h"
#include "update/decisions.h"

namespace tessaro::info {
namespace {

const std::vector<std::string> kFwChecks = {"file read",
                                            "header and table area (256 bytes)",
                                            "checksum",
                                            "length field",
                                            "sub-firmware table inside the file",
                                            "flash ranges",
                                            "needed kinds selected (KV30, Q5, short test code)"};

// The check each of the loader's refusals fails; the rest fail reading the file.
int FailedLoaderCheck(int32_t loaderCode) {
  switch (loaderCode) {
    case kFwErrTooShort: return 1;
    case kFwErrChecksum: return 2;
    case kFwErrLength: return 3;
    case kFwErrTable: return 4;
    default: return 0;
  }
}

}  // namespace

void AnalyseFirmware(const std::string& name, uint32_t mask, FirmwareAnalysis& out) {
  out.file = ReadFileFacts(name);
  LineCapture capture;
  out.loaderCode = out.image.LoadFwFile(name.c_str());
  if (out.file.read) out.table = DescribeFwTable(out.file.bytes.get(), out.file.sizeBytes, mask);
  int failed = kNoCheckFailed;
  if (out.loaderCode != kFwLoaded) {
    failed = FailedLoaderCheck(out.loaderCode);
    out.reason = capture.Take();
    out.tessaroRefusal = kFwJobFileRefused;
  } else if (!SubTableFits(out.image, mask)) {
    failed = 5;
    out.reason = capture.Take();
    out.tessaroRefusal = kFwJobTableDoesNotFit;
  } else if (!NeededKindsSelected(out.image, mask)) {
    failed = 6;
    out.reason = capture.Take();
    out.tessaroRefusal = kFwJobKindNotSelected;
  }
  out.checks = ChecksUpTo(kFwChecks, failed, out.reason);
  out.accepted = failed == kNoCheckFailed;
}

int RunFirmware(const InfoOptions& options, const std::string& name, HidDiagnosis&) {
  FirmwareAnalysis analysis;
  AnalyseFirmware(name, options.mask, analysis);
  const FwTable& table = analysis.table;
  const int exitCode = analysis.accepted ? kExitOk : kExitRefused;
  if (options.json) {
    Json json = {{"command", "firmware"}};
    json.update(FileJson(name, analysis.file));
    json["mask"] = options.mask;
    json["checks"] = ChecksJson(analysis.checks);
    json["pid"] = table.haveHeader ? Json(table.pid) : Json(nullptr);
    json["vid"] = table.haveHeader ? Json(VidText(table.vid)) : Json(nullptr);
    json["count"] = table.haveHeader ? Json(table.count) : Json(nullptr);
    json["entries"] = TableJson(table);
    json["neededKindsWritten"] = table.haveHeader && table.neededKindsWritten;
    json["warnings"] = table.warnings;
    json["accepted"] = analysis.accepted;
    json["exitCode"] = exitCode;
    PrintJson(json);
    return exitCode;
  }
  PrintFile(name, analysis.file);
  PrintChecks(analysis.checks);
  if (table.haveHeader) {
    std::printf("PID: %s\nVID: %s\nmask: 0x%X\n", Printable(table.pid).c_str(), VidText(table.vid).c_str(),
                options.mask);
    PrintTable(table);
    std::printf("needed kinds written: %s\n", table.neededKindsWritten ? "yes" : "no");
  }
  for (const std::string& warning : table.warnings) std::printf("warning: %s\n", warning.c_str());
  // A file never read was judged by no mask.
  if (!analysis.file.read) {
    std::printf("verdict: refused: the file was not read\n");
  } else {
    std::printf("verdict: %s for mask 0x%X\n", analysis.accepted ? "accepted" : "refused", options.mask);
  }
  return exitCode;
}

}  // namespace tessaro::info
