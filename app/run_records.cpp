#include "app/run_records.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "base/clock.h"
#include "base/hex.h"
#include "base/sha256.h"
#include "base/system.h"
#include "update/decisions.h"
#include "update/jobs.h"

namespace tessaro {
namespace {

using Json = nlohmann::ordered_json;

std::string ProgramName(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "";
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() > 4) {
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (suffix == ".exe") name.resize(name.size() - 4);
  }
  return name;
}

std::string IsoUtc(const UtcTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return text;
}

// Up to the first NUL, as the log prints it.
std::string PidText(const char* pid, size_t maxBytes) {
  size_t length = 0;
  while (length < maxBytes && pid[length] != '\0') ++length;
  return std::string(pid, length);
}

void PutVid(Json& object, const uint8_t* vid) {
  object["vid"] = HexBytes(vid, 4, " ");
  object["vidNumber"] = PackedVid(vid);
}

Json VersionJson(const VersionFacts& facts) {
  Json object;
  object["pid"] = PidText(facts.pid, 4);
  PutVid(object, facts.vid);
  object["sensorId"] = facts.sensorId;
  return object;
}

Json HeadJson(const HeadFacts& facts) {
  Json object;
  object["cfgVersion"] = facts.bytes[0];
  object["headIntact"] = CfgHeadIntact(facts.bytes);
  return object;
}

const char* JobWord(JobKind job) {
  switch (job) {
    case JobKind::kFirmware:
      return "firmware";
    case JobKind::kConfig:
      return "config";
    case JobKind::kQuery:
      return "query";
    case JobKind::kNone:
      break;
  }
  return nullptr;
}

// Whether the query got its property: the failure values (255, -1) are also
// real properties, so the result cannot tell.
bool PropertyRead(const RunSummary& summary) {
  if (PropertyOf(summary.property) == Property::kCfgVersion) return summary.facts.headBefore.known;
  return summary.facts.versionBefore.known;
}

Json PropertyJson(const RunSummary& summary) {
  const RunFacts& facts = summary.facts;
  Json object;
  object["name"] = summary.property;
  switch (PropertyOf(summary.property)) {
    case Property::kPid: object["pid"] = PidText(facts.versionBefore.pid, 4); break;
    case Property::kVid: PutVid(object, facts.versionBefore.vid); break;
    case Property::kSensorId: object["sensorId"] = facts.versionBefore.sensorId; break;
    case Property::kCfgVersion: object["cfgVersion"] = facts.headBefore.bytes[0]; break;
    case Property::kUnknown: break;
  }
  return object;
}

Json OptionsJson(const RunOptions& options) {
  Json object;
  object["firmware"] = options.firmware;
  object["config"] = options.config;
  object["prop"] = options.prop ? Json(*options.prop) : Json(nullptr);
  object["file"] = options.file ? Json(*options.file) : Json(nullptr);
  object["ignoreVer"] = options.ignoreVer;
  object["flag"] = options.flag;
  object["debug"] = options.debug;
  return object;
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// A name of its own for each writer, so that two runs given the same PATH
// never write into one new file.
std::string NewFileName(const std::string& path) {
  std::random_device device;
  const uint64_t ticks = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const uint64_t mixed = ticks ^ (uint64_t{device()} << 32 | device());
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(mixed));
  return path + suffix + ".new";
}

// Written whole to a new file, then moved over PATH in one step; a reader
// (a FIFO at PATH among them) never holds the run. False with the reason.
bool WriteAtomically(const std::string& path, const std::string& text, std::string& reason) {
  const std::string newFile = NewFileName(path);
  errno = 0;
  std::FILE* file = std::fopen(newFile.c_str(), "wb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  int error = written ? 0 : errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && MoveFileOver(newFile.c_str(), path.c_str())) return true;
  if (written) error = errno;
  reason = error != 0 ? std::strerror(error) : "cannot be moved into place";
  std::remove(newFile.c_str());
  return false;
}

}  // namespace

std::string OutcomeWord(const RunSummary& summary) {
  if (!summary.refusal.empty()) return "refused-options";
  if (summary.job == JobKind::kNone) return "no-job";
  if (summary.job == JobKind::kQuery && PropertyOf(summary.property) == Property::kUnknown) return "unknown-property";
  switch (summary.facts.outcome) {
    case RunOutcome::kNotNeededOtherPid:
      return "not-needed-other-pid";
    case RunOutcome::kNotNeededSameVid:
      return "not-needed-same-vid";
    case RunOutcome::kNotNeededVersion:
      return "not-needed-version";
    case RunOutcome::kRefusedFile:
      return "refused-file";
    case RunOutcome::kBusy:
      return "busy";
    case RunOutcome::kUndecided:
      break;
  }
  const bool succeeded = summary.job == JobKind::kQuery ? PropertyRead(summary) : summary.result == kJobDone;
  if (succeeded) return summary.job == JobKind::kQuery ? "read" : "updated";
  return summary.facts.opened ? "failed" : "no-controller";
}

std::string ResultJson(const RunSummary& summary) {
  const RunFacts& facts = summary.facts;
  Json root;
  root["program"] = summary.program;
  root["version"] = summary.version;
  const char* job = JobWord(summary.job);
  root["job"] = job != nullptr && summary.refusal.empty() ? Json(job) : Json(nullptr);
  root["options"] = OptionsJson(summary.options);
  root["outcome"] = OutcomeWord(summary);
  root["result"] = summary.result;
  // What a POSIX shell's $? shows; a Windows batch file sees result whole.
  root["exitCode"] = static_cast<uint32_t>(summary.result) & 0xFF;
  if (summary.job == JobKind::kQuery && PropertyOf(summary.property) != Property::kUnknown && PropertyRead(summary)) {
    root["property"] = PropertyJson(summary);
  }
  if (summary.job == JobKind::kFirmware) {
    if (facts.versionBefore.known) root["before"] = VersionJson(facts.versionBefore);
    if (facts.versionAfter.known) root["after"] = VersionJson(facts.versionAfter);
  }
  if (summary.job == JobKind::kConfig) {
    if (facts.headBefore.known) root["before"] = HeadJson(facts.headBefore);
    if (facts.headAfter.known) root["after"] = HeadJson(facts.headAfter);
  }
  if (facts.fileRead) {
    Json file;
    file["name"] = summary.options.file ? *summary.options.file : std::string();
    file["size"] = facts.fileBytes;
    file["sha256"] = TextOrNull(facts.fileSha256);
    root["file"] = file;
  }
  if (facts.firmwareImage) {
    Json image;
    image["pid"] = PidText(facts.imagePid, 8);
    PutVid(image, facts.imageVid);
    root["image"] = image;
  } else if (facts.configImage) {
    root["image"] = Json{{"cfgVersion", facts.imageCfgVersion}};
  }
  // Which collection the job took, and every one it could have taken.
  root["controller"] = TextOrNull(facts.controller);
  root["matches"] = facts.matches.empty() ? Json(nullptr) : Json(facts.matches);
  root["lastMessage"] = TextOrNull(summary.refusal.empty() ? facts.lastMessage : summary.refusal);
  root["lastError"] = TextOrNull(facts.lastError);
  root["start"] = summary.startUtc;
  root["durationMs"] = summary.durationMs;
  // Bytes that are not UTF-8 (a file name in a legacy code page) become
  // U+FFFD rather than an invalid file.
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

RunRecords::RunRecords(const char* argv0, const char* version) : start_(std::chrono::steady_clock::now()) {
  trace_ = TraceRecorderFromEnvironment();
  const char* path = std::getenv("TESSARO_RESULT");
  if (path == nullptr || *path == '\0') return;
  resultPath_ = path;
  summary_.program = ProgramName(argv0);
  summary_.version = version;
  summary_.startUtc = IsoUtc(TheClock().NowUtc());
  ActivateRunFacts(&summary_.facts, Sha256Hex);
}

RunRecords::~RunRecords() {
  if (!resultPath_.empty()) ActivateRunFacts(nullptr, nullptr);
}

void RunRecords::SetOptions(const RunOptions& options) { summary_.options = options; }

void RunRecords::SetJob(JobKind job, const std::string& property) {
  summary_.job = job;
  summary_.property = property;
  // A run cut short (a signal before or after an update, a crash, a power
  // loss) must not leave the result of an earlier run for a script to trust.
  if (!resultPath_.empty()) std::remove(resultPath_.c_str());
}

int32_t RunRecords::Refused(int32_t exitCode, const char* text) {
  std::string refusal = text;
  while (!refusal.empty() && refusal.back() == '\n') refusal.pop_back();
  summary_.refusal = refusal;
  summary_.result = exitCode;
  Write();
  return exitCode;
}

int32_t RunRecords::Finish(int32_t result) {
  summary_.result = result;
  Write();
  return result;
}

void RunRecords::Write() {
  if (resultPath_.empty()) return;
  summary_.durationMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  std::string reason;
  if (!WriteAtomically(resultPath_, ResultJson(summary_), reason)) {
    std::fprintf(stderr, "%s: cannot be written (%s)\n", resultPath_.c_str(), reason.c_str());
  }
}

}  // namespace tessaro
