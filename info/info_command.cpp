#include "info/info_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/sha256.h"
#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "images/whole_file.h"
#include "info/fw_table.h"
#include "info/survey.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "update/decisions.h"
#include "update/subfw_kinds.h"
#include "update/waits.h"

namespace tessaro::info {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUsage =
    "usage: tessaro-info [options] devices\n"
    "       tessaro-info [options] firmware FILE\n"
    "       tessaro-info [options] config FILE\n"
    "       tessaro-info [options] plan firmware FILE\n"
    "       tessaro-info [options] plan config FILE\n"
    "options:\n"
    "      --json       one JSON object instead of the text\n"
    "      --flag       N: the sub-firmware mask of the firmware commands, as tessaro's --flag,\n"
    "                   decimal or 0x-hexadecimal (default 2116, 0x844)\n"
    "  -i, --ignoreVer  plan as tessaro --ignoreVer would run\n"
    "  -?, --help       this text\n"
    "exit codes: 0 found and read / file accepted / would update; 1 would not update;\n"
    "2 file refused / would refuse; 3 no controller; 4 controller not readable; 5 controller busy;\n"
    "64 wrong command line\n";

constexpr uint32_t kDefaultMask = kDefaultSubFwMask;

// Protocol costs of one firmware and one configuration attempt in which the
// controller acknowledges every step at its first poll: what the jobs send
// and sleep at least. The end-to-end tests hold them against the simulator.
constexpr uint32_t kFwFixedSleepMs =
    waits::kAfterSwitchMs + waits::kAfterStartUpdateMs + waits::kAfterRestartMs + waits::kBeforeVersionReadBackMs;
constexpr uint32_t kFwChunkSleepMs = waits::kAfterLoadFlashMs;
constexpr uint32_t kCfgFixedSleepMs = waits::kAfterSendCmdMs + waits::kAfterFinishCmdMs + waits::kAfterCfgAttemptMs;

// The tool's lines while a loader, a decision or a register read runs: kept
// as the reason instead of printed or written to a log file.
class LineCapture {
 public:
  LineCapture() : previousSink_(logSink), previousMask_(logMask) {
    lines_ = &captured_;
    logSink = &Sink;
    logMask = kLogError;
  }
  ~LineCapture() {
    logSink = previousSink_;
    logMask = previousMask_;
    lines_ = nullptr;
  }
  LineCapture(const LineCapture&) = delete;
  LineCapture& operator=(const LineCapture&) = delete;

  // The lines since the last call, each without its line end.
  std::vector<std::string> Take() {
    std::vector<std::string> lines;
    lines.swap(captured_);
    return lines;
  }

 private:
  static void Sink(const char* text) {
    if (lines_ == nullptr) return;
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines_->push_back(line);
  }

  static std::vector<std::string>* lines_;
  std::vector<std::string> captured_;
  LogSink previousSink_;
  int32_t previousMask_;
};
std::vector<std::string>* LineCapture::lines_ = nullptr;

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string VidText(const uint8_t* vid, const char* separator = " ") {
  char text[16];
  std::snprintf(text, sizeof text, "%02x%s%02x%s%02x%s%02x", vid[0], separator, vid[1], separator, vid[2], separator,
                vid[3]);
  return text;
}

std::string Joined(const std::vector<std::string>& lines, const char* separator) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : separator) + line;
  return text;
}

// ---- command line ----

struct Command {
  bool json = false;
  bool help = false;
  bool ignoreVersion = false;
  uint32_t mask = kDefaultMask;
  bool maskGiven = false;
  std::vector<std::string> words;
  std::string error;
};

bool ParseMask(const std::string& text, uint32_t& mask) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) {
    const unsigned long long value = std::strtoull(text.c_str() + 2, &end, 16);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull || text[2] == '-' || text[2] == '+') return false;
    mask = static_cast<uint32_t>(value);
    return true;
  }
  // tessaro takes a signed 32-bit decimal and uses its bits.
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX || text[0] == '+' || text[0] == ' ') {
    return false;
  }
  mask = static_cast<uint32_t>(static_cast<int32_t>(value));
  return true;
}

Command ParseCommandLine(int argc, char** argv) {
  Command command;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      command.json = true;
    } else if (arg == "--help" || arg == "-?" || arg == "-h") {
      command.help = true;
    } else if (arg == "--ignoreVer" || arg == "-i") {
      command.ignoreVersion = true;
    } else if (arg == "--flag" || arg.rfind("--flag=", 0) == 0) {
      std::string value;
      if (arg == "--flag") {
        if (i + 1 >= argc) {
          command.error = "--flag needs a value";
          return command;
        }
        value = argv[++i];
      } else {
        value = arg.substr(7);
      }
      if (!ParseMask(value, command.mask)) {
        command.error = "--flag: not a 32-bit number: " + value;
        return command;
      }
      command.maskGiven = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      command.error = "unknown option: " + arg;
      return command;
    } else {
      command.words.push_back(arg);
    }
  }
  return command;
}

// ---- files ----

struct FileFacts {
  bool read = false;
  uint32_t sizeBytes = 0;
  std::string sha256;
  std::unique_ptr<uint8_t[]> bytes;
};

// The file's bytes as the loaders read them, through the file seam; the
// loaders' own verdict comes from running them.
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

struct Check {
  std::string name;
  std::string result;  // "passed", "failed", "not run"
  std::vector<std::string> reason;
};

// Checks in the order the code runs them; the one that failed carries the
// lines tessaro logs, those after it did not run.
std::vector<Check> ChecksUpTo(const std::vector<std::string>& names, int failedIndex,
                              const std::vector<std::string>& reason) {
  std::vector<Check> checks;
  for (size_t i = 0; i < names.size(); ++i) {
    const int index = static_cast<int>(i);
    const char* result = failedIndex < 0 || index < failedIndex ? "passed"
                         : index == failedIndex                 ? "failed"
                                                                : "not run";
    checks.push_back(Check{names[i], result, index == failedIndex ? reason : std::vector<std::string>{}});
  }
  return checks;
}

Json ChecksJson(const std::vector<Check>& checks) {
  Json list = Json::array();
  for (const Check& check : checks) {
    list.push_back({{"name", check.name}, {"result", check.result}, {"reason", check.reason}});
  }
  return list;
}

void PrintChecks(const std::vector<Check>& checks) {
  std::printf("checks:\n");
  for (const Check& check : checks) {
    std::printf("  %-8s %s\n", check.result.c_str(), check.name.c_str());
    for (const std::string& line : check.reason) std::printf("           %s\n", line.c_str());
  }
}

const std::vector<std::string> kFwChecks = {"file read",
                                            "header and table area (256 bytes)",
                                            "checksum",
                                            "length field",
                                            "sub-firmware table inside the file",
                                            "flash ranges",
                                            "needed kinds selected (KV30, Q5, short test code)"};

struct FirmwareAnalysis {
  FileFacts file;
  FwImage image;
  std::vector<Check> checks;
  FwTable table;
  bool accepted = false;
  int32_t loaderCode = 1;
  int32_t tessaroRefusal = 0;  // tessaro's exit code for a refused file
  std::vector<std::string> reason;
};

// Runs the loader and the job's own checks of image and mask, as tessaro
// does, and reads the table for the listing.
void AnalyseFirmware(const std::string& name, uint32_t mask, FirmwareAnalysis& out) {
  out.file = ReadFileFacts(name);
  LineCapture capture;
  out.loaderCode = out.image.LoadFwFile(name.c_str());
  if (out.file.read) out.table = DescribeFwTable(out.file.bytes.get(), out.file.sizeBytes, mask);
  int failed = -1;
  if (out.loaderCode < 0) {
    switch (out.loaderCode) {
      case kFwErrTooShort: failed = 1; break;
      case -4: failed = 2; break;
      case -5: failed = 3; break;
      case kFwErrTable: failed = 4; break;
      default: failed = 0; break;
    }
    out.reason = capture.Take();
    out.tessaroRefusal = -2;
  } else if (!SubTableFits(out.image, mask)) {
    failed = 5;
    out.reason = capture.Take();
    out.tessaroRefusal = -4;
  } else if (!NeededKindsSelected(out.image, mask)) {
    failed = 6;
    out.reason = capture.Take();
    out.tessaroRefusal = -1;
  }
  out.checks = ChecksUpTo(kFwChecks, failed, out.reason);
  out.accepted = failed < 0;
}

const std::vector<std::string> kCfgChecks = {"file read", "tokens", "checksum", "fits the register space"};

struct ConfigAnalysis {
  FileFacts file;
  CfgImage image;
  std::vector<Check> checks;
  std::vector<std::string> warnings;
  bool accepted = false;
  int32_t tessaroRefusal = 0;
  int32_t loaderCode = 1;
  std::vector<std::string> reason;
};

void AnalyseConfig(const std::string& name, ConfigAnalysis& out) {
  out.file = ReadFileFacts(name);
  LineCapture capture;
  const int32_t loaded = out.image.LoadCfgFile(name.c_str());
  out.loaderCode = loaded;
  std::vector<std::string> lines = capture.Take();
  // The count line reports a file of fewer than two tokens and does not stop
  // the load: a warning unless the load failed.
  int failed = -1;
  if (loaded < 0) {
    switch (loaded) {
      case -4:
      case kCfgErrNoData: failed = 1; break;
      case -5: failed = 2; break;
      default: failed = 0; break;
    }
    out.reason = lines;
    out.tessaroRefusal = -2;
  } else {
    out.warnings = lines;
    if (!CfgFitsRegisterSpace(out.image)) {
      failed = 3;
      out.reason = capture.Take();
      out.tessaroRefusal = kCfgTooLong;
    }
  }
  out.checks = ChecksUpTo(kCfgChecks, failed, out.reason);
  out.accepted = failed < 0;
}

// ---- the controller ----

struct ControllerFacts {
  bool found = false;
  std::string path;
  bool versionRead = false;
  std::vector<std::string> versionErrors;
  bool headRead = false;
  uint8_t head[3] = {};
  std::vector<std::string> headErrors;
};

// The VERSION block as every job reads it (five reads at most, no sleeps).
bool ReadVersion(CConnectionTLC& connection, ControllerFacts& facts) {
  LineCapture capture;
  facts.versionRead = connection.SetBasicProperties() >= 0;
  facts.versionErrors = capture.Take();
  return facts.versionRead;
}

// The configuration head, one read as the configuration job makes it.
bool ReadHead(CConnectionTLC& connection, ControllerFacts& facts) {
  LineCapture capture;
  facts.headRead = connection.ReadRegister(reg::kConfigAddr, facts.head, reg::kConfigHeadBytes) >= 0;
  facts.headErrors = capture.Take();
  if (!facts.headRead) std::memset(facts.head, 0, sizeof facts.head);
  return facts.headRead;
}

std::string CfgVersionText(uint8_t version) {
  return Hex(version, 2) + ((version & 0x80) != 0 ? " (kept in flash)" : " (temporary)");
}

Json ControllerJson(const CConnectionTLC& connection, const ControllerFacts& facts, bool withVersion, bool withHead) {
  if (!facts.found) return nullptr;
  Json json = {{"path", facts.path}};
  if (withVersion) {
    json["versionRead"] = facts.versionRead;
    json["pid"] = facts.versionRead ? Json(std::string(connection.pid)) : Json(nullptr);
    json["vid"] = facts.versionRead ? Json(VidText(connection.vid, "")) : Json(nullptr);
    json["sensorId"] = facts.versionRead ? Json(connection.sensorId) : Json(nullptr);
    json["versionErrors"] = facts.versionErrors;
  }
  if (withHead) {
    json["configHeadRead"] = facts.headRead;
    json["configVersion"] = facts.headRead ? Json(facts.head[0]) : Json(nullptr);
    json["configHead"] = facts.headRead ? Json(VidText(facts.head, "").substr(0, 6)) : Json(nullptr);
    json["configHeadIntact"] = facts.headRead ? Json(CfgHeadIntact(facts.head)) : Json(nullptr);
    json["configHeadErrors"] = facts.headErrors;
  }
  return json;
}

void PrintController(const CConnectionTLC& connection, const ControllerFacts& facts, bool withVersion, bool withHead) {
  if (!facts.found) return;
  std::printf("controller: %s\n", facts.path.c_str());
  if (withVersion) {
    if (facts.versionRead) {
      std::printf("  PID: %s\n  firmware VID: %s\n  sensor ID: %u\n", connection.pid, VidText(connection.vid).c_str(),
                  connection.sensorId);
    } else {
      std::printf("  VERSION block not read:\n");
      for (const std::string& line : facts.versionErrors) std::printf("    %s\n", line.c_str());
    }
  }
  if (withHead) {
    if (facts.headRead) {
      std::printf("  configuration version: %s, head %02x %02x %02x %s\n", CfgVersionText(facts.head[0]).c_str(),
                  facts.head[0], facts.head[1], facts.head[2], CfgHeadIntact(facts.head) ? "intact" : "damaged");
    } else {
      std::printf("  configuration head not read:\n");
      for (const std::string& line : facts.headErrors) std::printf("    %s\n", line.c_str());
    }
  }
}

const char* kRetryNote =
    "one walk found no controller; tessaro would walk 3 more times, 2000 ms apart, then fail with "
    "\"find device failed\"";

// What tessaro says and does when another process holds the controller.
std::string BusyLine(const SurveyEntry& entry) {
  return entry.holderPid != 0 ? "error     : controller in use by another process (pid " +
                                    std::to_string(entry.holderPid) + "), nothing sent"
                              : "error     : controller in use by another process, nothing sent";
}
const char* kBusyNote =
    "the controller is in use by another process; tessaro would send nothing and end at once with its "
    "open-failure result";

std::string OptionalHex(bool known, uint16_t value) { return known ? Hex(value, 4) : "?"; }

Json SurveyJson(const Survey& survey) {
  Json list = Json::array();
  for (const SurveyEntry& entry : survey.entries) {
    Json item = {{"path", entry.path}, {"collection", entry.collection}};
    item["bus"] = entry.facts.bus.empty() ? Json(nullptr) : Json(entry.facts.bus);
    item["vendorId"] = entry.facts.haveIds ? Json(entry.facts.vendorId) : Json(nullptr);
    item["productId"] = entry.facts.haveIds ? Json(entry.facts.productId) : Json(nullptr);
    item["usagePage"] = entry.facts.haveUsages ? Json(entry.facts.usagePage) : Json(nullptr);
    item["usage"] = entry.facts.haveUsages ? Json(entry.facts.usage) : Json(nullptr);
    item["inputReportBytes"] = entry.facts.haveReportLengths ? Json(entry.facts.inputReportBytes) : Json(nullptr);
    item["outputReportBytes"] = entry.facts.haveReportLengths ? Json(entry.facts.outputReportBytes) : Json(nullptr);
    item["opened"] = entry.opened;
    item["error"] = entry.opened ? Json(nullptr) : Json(entry.problem.error);
    item["hint"] = entry.opened || entry.problem.hint.empty() ? Json(nullptr) : Json(entry.problem.hint);
    item["systemHeld"] = !entry.opened && entry.problem.systemHeld;
    item["matches"] = entry.matches;
    item["taken"] = entry.taken;
    item["busy"] = entry.busy;
    item["holderPid"] = entry.busy && entry.holderPid != 0 ? Json(entry.holderPid) : Json(nullptr);
    list.push_back(item);
  }
  return list;
}

void PrintSurvey(const Survey& survey) {
  for (const std::string& note : survey.hostNotes) std::printf("note: %s\n", note.c_str());
  std::printf("walk: %zu HID interface%s\n", survey.entries.size(), survey.entries.size() == 1 ? "" : "s");
  for (size_t i = 0; i < survey.entries.size(); ++i) {
    const SurveyEntry& entry = survey.entries[i];
    std::printf("[%zu] %s", i, entry.path.c_str());
    // One hidraw node carries several collections under one path.
    size_t samePath = 0;
    for (const SurveyEntry& other : survey.entries) samePath += other.path == entry.path ? 1 : 0;
    if (samePath > 1) std::printf(" collection %u", entry.collection);
    std::printf("\n    bus %s, vendor %s, product %s, usage page %s, usage %s",
                entry.facts.bus.empty() ? "?" : entry.facts.bus.c_str(),
                OptionalHex(entry.facts.haveIds, entry.facts.vendorId).c_str(),
                OptionalHex(entry.facts.haveIds, entry.facts.productId).c_str(),
                OptionalHex(entry.facts.haveUsages, entry.facts.usagePage).c_str(),
                OptionalHex(entry.facts.haveUsages, entry.facts.usage).c_str());
    // The controller's reports are 65 bytes each way; other lengths are why
    // a matching collection would not answer.
    if (entry.facts.haveReportLengths) {
      std::printf(", reports in %u / out %u bytes", entry.facts.inputReportBytes, entry.facts.outputReportBytes);
    }
    std::printf("\n");
    const std::string holder = entry.holderPid != 0 ? " (pid " + std::to_string(entry.holderPid) + ")" : "";
    const std::string busy = "matches, but another process holds it" + holder;
    const char* match = entry.taken     ? "matches: tessaro takes this one"
                        : entry.busy    ? busy.c_str()
                        : entry.matches ? (entry.opened ? "matches, but tessaro takes the first match"
                                                        : "matches, but tessaro passes over it: it cannot be opened")
                                        : "does not match";
    if (entry.opened) {
      std::printf("    opened; %s\n", match);
    } else if (entry.problem.systemHeld) {
      std::printf("    held by the system (not a fault): %s; %s\n", entry.problem.error.c_str(), match);
    } else {
      std::printf("    not opened: %s; %s\n", entry.problem.error.c_str(), match);
    }
    if (!entry.opened && !entry.problem.hint.empty()) std::printf("    hint: %s\n", entry.problem.hint.c_str());
  }
}

// Bytes from a controller or a file need not be UTF-8: such text is kept,
// its bad bytes replaced, rather than ending the run.
void PrintJson(const Json& json) {
  std::printf("%s\n", json.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
}

// ---- commands ----

int Devices(const Command& command, HidDiagnosis& diagnosis) {
  CConnectionTLC connection;
  const Survey survey = RunSurvey(diagnosis, connection);
  ControllerFacts facts;
  int exitCode = kExitNoController;
  if (survey.taken >= 0) {
    facts.found = true;
    facts.path = survey.entries[static_cast<size_t>(survey.taken)].path;
    const bool version = ReadVersion(connection, facts);
    const bool head = ReadHead(connection, facts);
    exitCode = version && head ? kExitOk : kExitUnreadable;
  } else if (survey.busy >= 0) {
    exitCode = kExitBusy;
  }
  connection.Close();
  if (command.json) {
    Json json = {{"command", "devices"},
                 {"build", {{"vendorId", kVendorId}, {"usagePage", reg::kUsagePage}, {"usage", reg::kUsage}}},
                 {"hostNotes", survey.hostNotes},
                 {"interfaces", SurveyJson(survey)},
                 {"controller", ControllerJson(connection, facts, true, true)},
                 {"note", facts.found ? Json(nullptr) : Json(survey.busy >= 0 ? kBusyNote : kRetryNote)},
                 {"exitCode", exitCode}};
    PrintJson(json);
  } else {
    std::printf("build: vendor %s, usage page %s, usage %s\n", Hex(kVendorId, 4).c_str(),
                Hex(reg::kUsagePage, 4).c_str(), Hex(reg::kUsage, 4).c_str());
    PrintSurvey(survey);
    if (facts.found) {
      PrintController(connection, facts, true, true);
    } else {
      std::printf("controller: none\nnote: %s\n", survey.busy >= 0 ? kBusyNote : kRetryNote);
    }
  }
  return exitCode;
}

Json FileJson(const std::string& name, const FileFacts& file) {
  return {{"file", name},
          {"size", file.read ? Json(file.sizeBytes) : Json(nullptr)},
          {"sha256", file.read ? Json(file.sha256) : Json(nullptr)}};
}

void PrintFile(const std::string& name, const FileFacts& file) {
  std::printf("file: %s\n", name.c_str());
  if (file.read) std::printf("size: %u bytes\nsha256: %s\n", file.sizeBytes, file.sha256.c_str());
}

Json TableJson(const FwTable& table) {
  Json entries = Json::array();
  for (const FwTableEntry& entry : table.entries) {
    entries.push_back({{"index", entry.index},
                       {"type", entry.type},
                       {"kind", entry.kind.empty() ? Json(nullptr) : Json(entry.kind)},
                       {"flashAddress", entry.flashAddress},
                       {"flashByteAddress", entry.flashByteAddress},
                       {"length", entry.length},
                       {"dataOffset", entry.dataOffset},
                       {"dataInFile", entry.dataInFile},
                       {"selected", entry.selected}});
  }
  return entries;
}

void PrintTable(const FwTable& table) {
  std::printf("table: %u entr%s\n", table.count, table.count == 1 ? "y" : "ies");
  if (table.entries.empty()) return;
  std::printf("  %-5s %-4s %-15s %-7s %-9s %-10s %-10s %s\n", "index", "type", "kind", "flash", "byte addr", "length",
              "offset", "selected");
  for (const FwTableEntry& entry : table.entries) {
    std::printf("  %-5u 0x%02X %-15s 0x%04X  0x%06X  %-10u %-10llu %s%s\n", entry.index, entry.type,
                entry.kind.empty() ? "-" : entry.kind.c_str(), entry.flashAddress, entry.flashByteAddress, entry.length,
                static_cast<unsigned long long>(entry.dataOffset), entry.selected ? "yes" : "no",
                entry.dataInFile ? "" : " (data past the end of the file)");
  }
}

int Firmware(const Command& command, const std::string& name) {
  FirmwareAnalysis analysis;
  AnalyseFirmware(name, command.mask, analysis);
  const FwTable& table = analysis.table;
  const int exitCode = analysis.accepted ? kExitOk : kExitRefused;
  if (command.json) {
    Json json = {{"command", "firmware"}};
    json.update(FileJson(name, analysis.file));
    json["mask"] = command.mask;
    json["checks"] = ChecksJson(analysis.checks);
    json["pid"] = table.haveHeader ? Json(table.pid) : Json(nullptr);
    json["vid"] = table.haveHeader ? Json(VidText(table.vid, "")) : Json(nullptr);
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
    std::printf("PID: %s\nVID: %s\nmask: 0x%X\n", table.pid.c_str(), VidText(table.vid).c_str(), command.mask);
    PrintTable(table);
    std::printf("needed kinds written: %s\n", table.neededKindsWritten ? "yes" : "no");
  }
  for (const std::string& warning : table.warnings) std::printf("warning: %s\n", warning.c_str());
  std::printf("verdict: %s for mask 0x%X\n", analysis.accepted ? "accepted" : "refused", command.mask);
  return exitCode;
}

uint8_t ByteSum(const CfgImage& image) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < image.length; ++i) sum = static_cast<uint8_t>(sum + image.data[i]);
  return sum;
}

int Config(const Command& command, const std::string& name) {
  ConfigAnalysis analysis;
  AnalyseConfig(name, analysis);
  const CfgImage& image = analysis.image;
  const bool loaded = image.valid != 0;
  const bool fits = loaded && image.length <= reg::kConfigMaxBytes;
  const int exitCode = analysis.accepted ? kExitOk : kExitRefused;
  if (command.json) {
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

// ---- plan ----

struct Plan {
  std::string decision;  // "update", "no update", "refused", "no controller", "controller unreadable"
  std::string why;
  std::vector<std::string> lines;  // the job's own lines for the decision
  int32_t tessaroExitCode = 0;
  uint32_t outputReports = 0;
  uint32_t inputReports = 0;
  uint32_t minimumWaitMs = 0;
  Json detail = Json::object();
  std::vector<std::string> detailText;
};

int PlanExitCode(const Plan& plan) {
  if (plan.decision == "update") return kExitOk;
  if (plan.decision == "no update") return kExitNoUpdate;
  if (plan.decision == "refused") return kExitRefused;
  if (plan.decision == "no controller") return kExitNoController;
  if (plan.decision == "controller busy") return kExitBusy;
  return kExitUnreadable;
}

uint32_t ReportsFor(uint32_t lengthBytes) {
  return lengthBytes / reg::kWriteChunkBytes + (lengthBytes % reg::kWriteChunkBytes != 0 ? 1 : 0);
}

void PlanFirmwareUpdate(const CConnectionTLC& connection, const FirmwareAnalysis& analysis, Plan& plan) {
  plan.decision = "update";
  plan.why = "from VID " + VidText(connection.vid) + " to " + VidText(analysis.image.vid);
  // The whole run: the VERSION read; switch, one poll, start update; per
  // chunk its writes, load flash, one poll; restart; the VERSION read after.
  plan.outputReports = 1 + 1 + 1 + 1 + 1 + 1;
  plan.inputReports = 1 + 1 + 1;
  plan.minimumWaitMs = kFwFixedSleepMs;
  Json writes = Json::array();
  for (const FwTableEntry& entry : analysis.table.entries) {
    if (!entry.selected) continue;
    for (uint32_t done = 0; done < entry.length;) {
      const uint32_t chunk = entry.length - done < reg::kFlashChunkBytes ? entry.length - done : reg::kFlashChunkBytes;
      plan.outputReports += ReportsFor(chunk) + 1 + 1;
      plan.inputReports += 1;
      plan.minimumWaitMs += kFwChunkSleepMs;
      done += chunk;
    }
    writes.push_back({{"index", entry.index},
                      {"type", entry.type},
                      {"kind", entry.kind.empty() ? Json(nullptr) : Json(entry.kind)},
                      {"flashByteAddress", entry.flashByteAddress},
                      {"length", entry.length}});
    char text[160];
    std::snprintf(text, sizeof text, "writes entry %u, type 0x%02X %s: %u bytes at 0x%06X", entry.index, entry.type,
                  entry.kind.empty() ? "-" : entry.kind.c_str(), entry.length, entry.flashByteAddress);
    plan.detailText.push_back(text);
  }
  plan.detail["fromVid"] = VidText(connection.vid, "");
  plan.detail["toVid"] = VidText(analysis.image.vid, "");
  plan.detail["writes"] = writes;
}

// The plan's own keys after the command's, and the object printed.
void PrintPlanJson(Json& json, const Plan& plan, int exitCode) {
  json["decision"] = plan.decision;
  json["why"] = plan.why;
  json["lines"] = plan.lines;
  json.update(plan.detail);
  if (plan.decision == "update") {
    json["outputReports"] = plan.outputReports;
    json["inputReports"] = plan.inputReports;
    json["minimumWaitMs"] = plan.minimumWaitMs;
  }
  json["tessaroExitCode"] = plan.tessaroExitCode;
  json["exitCode"] = exitCode;
  PrintJson(json);
}

// The plan of a walk that took no controller (busy or none), or the facts of
// the one it took; true when one was taken.
bool TakeController(const Survey& survey, ControllerFacts& facts, Plan& plan) {
  if (survey.taken < 0 && survey.busy >= 0) {
    plan.decision = "controller busy";
    plan.why = kBusyNote;
    plan.lines = {BusyLine(survey.entries[static_cast<size_t>(survey.busy)])};
    plan.tessaroExitCode = -1;
    return false;
  }
  if (survey.taken < 0) {
    plan.decision = "no controller";
    plan.why = kRetryNote;
    plan.tessaroExitCode = -1;
    return false;
  }
  facts.found = true;
  facts.path = survey.entries[static_cast<size_t>(survey.taken)].path;
  return true;
}

int PlanFirmware(const Command& command, const std::string& name, HidDiagnosis& diagnosis) {
  CConnectionTLC connection;
  const Survey survey = RunSurvey(diagnosis, connection);
  ControllerFacts facts;
  FirmwareAnalysis analysis;
  Plan plan;
  if (TakeController(survey, facts, plan)) {
    if (!ReadVersion(connection, facts)) {
      plan.decision = "controller unreadable";
      plan.why = "the VERSION block could not be read";
      plan.lines = facts.versionErrors;
      plan.lines.push_back("error     : read VERSION failed");
      plan.tessaroExitCode = -2;
    } else {
      AnalyseFirmware(name, command.mask, analysis);
      if (analysis.loaderCode < 0) {
        plan.decision = "refused";
        plan.why = "the image does not load";
        plan.lines = analysis.reason;
        plan.lines.push_back("error     : Failed read firmware file:" + name + ", ret:" +
                             std::to_string(analysis.loaderCode));
        plan.tessaroExitCode = -2;
      } else {
        LineCapture capture;
        const FwCondition condition = CheckFwConditions(connection, analysis.image, command.ignoreVersion);
        plan.lines = capture.Take();
        if (condition == FwCondition::kOtherPid) {
          plan.decision = "no update";
          plan.why = std::string("another PID: controller ") + connection.pid + ", image " + analysis.image.pid;
        } else if (condition == FwCondition::kSameVid) {
          plan.decision = "no update";
          plan.why = "the same VID " + VidText(connection.vid);
        } else if (!analysis.accepted) {
          plan.decision = "refused";
          plan.why = "the image cannot be written with mask " + Hex(command.mask, 1);
          plan.lines = analysis.reason;
          plan.tessaroExitCode = analysis.tessaroRefusal;
        } else {
          PlanFirmwareUpdate(connection, analysis, plan);
        }
      }
    }
  }
  connection.Close();
  const int exitCode = PlanExitCode(plan);
  if (command.json) {
    Json json = {{"command", "plan"}, {"kind", "firmware"}, {"file", name}, {"mask", command.mask},
                 {"ignoreVer", command.ignoreVersion}};
    json["controller"] = ControllerJson(connection, facts, true, false);
    json["imagePid"] = analysis.image.valid ? Json(std::string(analysis.image.pid)) : Json(nullptr);
    json["imageVid"] = analysis.image.valid ? Json(VidText(analysis.image.vid, "")) : Json(nullptr);
    PrintPlanJson(json, plan, exitCode);
    return exitCode;
  }
  PrintController(connection, facts, true, false);
  if (analysis.image.valid) {
    std::printf("image: %s, PID %s, VID %s, mask 0x%X\n", name.c_str(), analysis.image.pid,
                VidText(analysis.image.vid).c_str(), command.mask);
  }
  std::printf("decision: %s: %s\n", plan.decision.c_str(), plan.why.c_str());
  for (const std::string& line : plan.detailText) std::printf("  %s\n", line.c_str());
  if (plan.decision == "update") {
    std::printf("  at least %u output and %u input reports, and %u ms of the protocol's waits\n", plan.outputReports,
                plan.inputReports, plan.minimumWaitMs);
  }
  for (const std::string& line : plan.lines) std::printf("  %s\n", line.c_str());
  std::printf("tessaro would end with %d\n", plan.tessaroExitCode);
  return exitCode;
}

int PlanConfig(const Command& command, const std::string& name, HidDiagnosis& diagnosis) {
  CConnectionTLC connection;
  const Survey survey = RunSurvey(diagnosis, connection);
  ControllerFacts facts;
  ConfigAnalysis analysis;
  Plan plan;
  if (TakeController(survey, facts, plan)) {
    // As the job: a failed read leaves zeros, version 0 with an intact head.
    ReadHead(connection, facts);
    const uint8_t chipVersion = facts.head[0];
    AnalyseConfig(name, analysis);
    if (!analysis.image.valid) {
      plan.decision = "refused";
      plan.why = "the configuration does not load";
      plan.lines = analysis.reason;
      plan.lines.push_back("error     : Failed read cfg file:" + name + ", ret:" + std::to_string(analysis.loaderCode));
      plan.tessaroExitCode = -2;
    } else if (!analysis.accepted) {
      plan.decision = "refused";
      plan.why = "the configuration does not fit the register space";
      plan.lines = analysis.reason;
      plan.tessaroExitCode = analysis.tessaroRefusal;
    } else {
      LineCapture capture;
      const bool needed = CfgUpdateNeeded(chipVersion, analysis.image, command.ignoreVersion);
      plan.lines = capture.Take();
      if (!needed) {
        plan.decision = "no update";
        plan.why = "the controller's version " + Hex(chipVersion, 2) + " is equal or newer than the file's " +
                   Hex(analysis.image.version, 2);
        plan.tessaroExitCode = -6;
      } else {
        plan.decision = "update";
        plan.why = "from version " + Hex(chipVersion, 2) + " to " + CfgVersionText(analysis.image.version);
        // The whole run: the head; send command, one poll, the bytes, finish,
        // one poll; the head read back.
        plan.outputReports = 1 + 1 + 1 + ReportsFor(analysis.image.length) + 1 + 1 + 1;
        plan.inputReports = 4;
        plan.minimumWaitMs = kCfgFixedSleepMs;
        plan.detail["fromVersion"] = chipVersion;
        plan.detail["toVersion"] = analysis.image.version;
      }
    }
  }
  connection.Close();
  const int exitCode = PlanExitCode(plan);
  if (command.json) {
    Json json = {{"command", "plan"}, {"kind", "config"}, {"file", name}, {"ignoreVer", command.ignoreVersion}};
    json["controller"] = ControllerJson(connection, facts, false, true);
    json["fileVersion"] = analysis.image.valid ? Json(analysis.image.version) : Json(nullptr);
    PrintPlanJson(json, plan, exitCode);
    return exitCode;
  }
  PrintController(connection, facts, false, true);
  if (analysis.image.valid) {
    std::printf("file: %s, version %s, %u bytes\n", name.c_str(), CfgVersionText(analysis.image.version).c_str(),
                analysis.image.length);
  }
  std::printf("decision: %s: %s\n", plan.decision.c_str(), plan.why.c_str());
  if (plan.decision == "update") {
    std::printf("  at least %u output and %u input reports, and %u ms of the protocol's waits\n", plan.outputReports,
                plan.inputReports, plan.minimumWaitMs);
  }
  for (const std::string& line : plan.lines) std::printf("  %s\n", line.c_str());
  std::printf("tessaro would end with %d\n", plan.tessaroExitCode);
  return exitCode;
}

int Usage(const std::string& error) {
  std::fprintf(stderr, "tessaro-info: %s\n%s", error.c_str(), kUsage);
  return kExitUsage;
}

}  // namespace

int RunInfo(int argc, char** argv, HidDiagnosis& diagnosis) {
  const Command command = ParseCommandLine(argc, argv);
  // As tessaro: the usage text on standard error, and 0.
  if (command.help) {
    std::fprintf(stderr, "%s", kUsage);
    return kExitOk;
  }
  if (!command.error.empty()) return Usage(command.error);
  const std::vector<std::string>& words = command.words;
  if (words.empty()) return Usage("no command");
  const std::string& verb = words[0];
  const bool firmwareFlags = verb == "firmware" || (verb == "plan" && words.size() > 1 && words[1] == "firmware");
  if (command.maskGiven && !firmwareFlags) return Usage("--flag belongs to firmware commands");
  if (command.ignoreVersion && verb != "plan") return Usage("--ignoreVer belongs to plan");

  if (verb == "devices" && words.size() == 1) return Devices(command, diagnosis);
  if (verb == "firmware" && words.size() == 2) return Firmware(command, words[1]);
  if (verb == "config" && words.size() == 2) return Config(command, words[1]);
  if (verb == "plan" && words.size() == 3 && words[1] == "firmware") return PlanFirmware(command, words[2], diagnosis);
  if (verb == "plan" && words.size() == 3 && words[1] == "config") return PlanConfig(command, words[2], diagnosis);
  return Usage("unknown command or wrong number of arguments: " + Joined(words, " "));
}

}  // namespace tessaro::info
