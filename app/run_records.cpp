#include "app/run_records.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// The controller's state before or after a job: the VERSION block's facts
// for a firmware job, the configuration head's for a configuration job.
Json StateJson(const VersionFacts* version, const HeadFacts* head) {
  Json object = {{"pid", nullptr}, {"vid", nullptr}, {"vidNumber", nullptr}, {"sensorId", nullptr},
                 {"cfgVersion", nullptr}, {"headIntact", nullptr}};
  if (version != nullptr) {
    object["pid"] = PidText(version->pid, 4);
    PutVid(object, version->vid);
    object["sensorId"] = version->sensorId;
  }
  if (head != nullptr) {
    object["cfgVersion"] = head->bytes[0];
    object["headIntact"] = CfgHeadIntact(head->bytes);
  }
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
  Json object = {{"name", summary.property}, {"pid", nullptr}, {"vid", nullptr}, {"vidNumber", nullptr},
                 {"sensorId", nullptr}, {"cfgVersion", nullptr}};
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

Json OptionalText(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// A result file is a few kilobytes; anything much larger is not one.
constexpr std::uintmax_t kLargestResultBytes = 1 << 20;

// What TESSARO_RESULT names, before anything is written there: nothing, an
// earlier result (both fine), or something else that is left alone.
bool PathTakesResult(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return true;
  if (error || status.type() != std::filesystem::file_type::regular) return false;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kLargestResultBytes) return false;
  std::ifstream file(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  return !file.bad() && IsEarlierResult(text);
}

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
  const bool refused = !summary.refusal.empty();
  Json root;
  root["schema"] = kResultSchema;
  root["program"] = summary.program;
  root["version"] = summary.version;
  const char* job = JobWord(summary.job);
  root["job"] = job != nullptr && !refused ? Json(job) : Json(nullptr);
  root["options"] = summary.optionsParsed ? OptionsJson(summary.options) : Json(nullptr);
  root["station"] = OptionalText(summary.station);
  root["unit"] = OptionalText(summary.unit);
  // Which collection the job took, and every one it could have taken.
  root["controller"] = TextOrNull(facts.controller);
  root["matches"] = facts.matches.empty() ? Json(nullptr) : Json(facts.matches);
  root["outcome"] = OutcomeWord(summary);
  root["result"] = summary.result;
  // What a POSIX shell's $? shows; a Windows batch file sees result whole.
  root["exitCode"] = static_cast<uint32_t>(summary.result) & 0xFF;
  const bool propertyRead =
      summary.job == JobKind::kQuery && PropertyOf(summary.property) != Property::kUnknown && PropertyRead(summary);
  root["property"] = propertyRead ? PropertyJson(summary) : Json(nullptr);
  const auto state = [&](const VersionFacts& version, const HeadFacts& head) {
    if (summary.job == JobKind::kFirmware && version.known) return StateJson(&version, nullptr);
    if (summary.job == JobKind::kConfig && head.known) return StateJson(nullptr, &head);
    return Json(nullptr);
  };
  root["before"] = state(facts.versionBefore, facts.headBefore);
  root["after"] = state(facts.versionAfter, facts.headAfter);
  root["file"] = nullptr;
  if (facts.fileRead) {
    root["file"] = {{"name", summary.options.file ? *summary.options.file : std::string()},
                    {"size", facts.fileBytes},
                    {"sha256", TextOrNull(facts.fileSha256)}};
  }
  Json image = {{"pid", nullptr}, {"vid", nullptr}, {"vidNumber", nullptr}, {"cfgVersion", nullptr}};
  if (facts.firmwareImage) {
    image["pid"] = PidText(facts.imagePid, 8);
    PutVid(image, facts.imageVid);
  } else if (facts.configImage) {
    image["cfgVersion"] = facts.imageCfgVersion;
  }
  root["image"] = facts.firmwareImage || facts.configImage ? image : Json(nullptr);
  root["lastMessage"] = TextOrNull(refused ? summary.refusal : facts.lastMessage);
  root["lastError"] = TextOrNull(facts.lastError);
  root["start"] = summary.startUtc;
  root["durationMs"] = summary.durationMs;
  // Bytes that are not UTF-8 (a file name in a legacy code page) become
  // U+FFFD rather than an invalid file.
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool IsEarlierResult(const std::string& text) {
  // Results written before the format carried its version are recognised
  // by the keys every one of them has.
  const Json json = Json::parse(text, nullptr, false);
  if (!json.is_object()) return false;
  const auto program = json.find("program");
  return program != json.end() && program->is_string() && program->get<std::string>().rfind("tessaro", 0) == 0 &&
         json.contains("outcome") && json.contains("result") && json.contains("exitCode");
}

RunRecords::RunRecords(const char* argv0, const char* version) : start_(std::chrono::steady_clock::now()) {
  trace_ = TraceRecorderFromEnvironment();
  const char* path = std::getenv("TESSARO_RESULT");
  if (path == nullptr || *path == '\0') return;
  // Only an earlier result is ever removed or replaced: a folder, the log,
  // the image the job is about to read stay as they are, and so does the run.
  if (!PathTakesResult(path)) {
    std::fprintf(stderr, "%s: not a result file, left as it is; no result is written\n", path);
    return;
  }
  resultPath_ = path;
  summary_.program = ProgramName(argv0);
  summary_.station = Variable("TESSARO_STATION");
  summary_.unit = Variable("TESSARO_UNIT");
  summary_.version = version;
  summary_.startUtc = IsoUtc(TheClock().NowUtc());
  ActivateRunFacts(&summary_.facts, Sha256Hex);
}

RunRecords::~RunRecords() {
  if (!resultPath_.empty()) ActivateRunFacts(nullptr, nullptr);
}

void RunRecords::SetOptions(const RunOptions& options) {
  summary_.options = options;
  summary_.optionsParsed = true;
}

void RunRecords::ParserEnded(int exitCode, const std::string& error) {
  if (exitCode == 0) {
    RemoveEarlier();
  } else {
    Refused(exitCode, error.c_str());
  }
}

int32_t RunRecords::NoResult(int32_t exitCode) {
  RemoveEarlier();
  return exitCode;
}

void RunRecords::RemoveEarlier() {
  if (!resultPath_.empty()) std::remove(resultPath_.c_str());
}

void RunRecords::SetJob(JobKind job, const std::string& property) {
  summary_.job = job;
  summary_.property = property;
  // A run cut short (a signal before or after an update, a crash, a power
  // loss) must not leave the result of an earlier run for a script to trust.
  RemoveEarlier();
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
