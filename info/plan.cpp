// tessaro-info plan firmware|config FILE: what a tessaro job would decide
// with this controller and this file, reached through the job's own
// decisions and with its lines, and what an update would cost at least.
// Nothing is written to the controller.
#include <cstdio>

#include "info/commands.h"
#include "info/file_checks.h"
#include "info/info_command.h"
#include "info/line_capture.h"
#include "info/output.h"
#include "transport/registers.h"
#include "update/decisions.h"
#include "update/jobs.h"
#include "update/waits.h"

namespace tessaro::info {
namespace {

enum class PlanDecision { kUpdate, kNoUpdate, kRefused, kNoController, kBusy, kUnreadable };

const char* DecisionWord(PlanDecision decision) {
  switch (decision) {
    case PlanDecision::kUpdate: return "update";
    case PlanDecision::kNoUpdate: return "no update";
    case PlanDecision::kRefused: return "refused";
    case PlanDecision::kNoController: return "no controller";
    case PlanDecision::kBusy: return "controller busy";
    case PlanDecision::kUnreadable: break;
  }
  return "controller unreadable";
}

// The same decisions in the words the result file uses for its outcomes.
const char* DecisionJsonWord(PlanDecision decision) {
  switch (decision) {
    case PlanDecision::kUpdate: return "update";
    case PlanDecision::kNoUpdate: return "no-update";
    case PlanDecision::kRefused: return "refused";
    case PlanDecision::kNoController: return "no-controller";
    case PlanDecision::kBusy: return "busy";
    case PlanDecision::kUnreadable: break;
  }
  return "unreadable";
}

int PlanExitCode(PlanDecision decision) {
  switch (decision) {
    case PlanDecision::kUpdate: return kExitOk;
    case PlanDecision::kNoUpdate: return kExitNoUpdate;
    case PlanDecision::kRefused: return kExitRefused;
    case PlanDecision::kNoController: return kExitNoController;
    case PlanDecision::kBusy: return kExitBusy;
    case PlanDecision::kUnreadable: break;
  }
  return kExitUnreadable;
}

// Protocol costs of one firmware and one configuration attempt in which the
// controller acknowledges every step at its first poll: what the jobs send
// and sleep at least. The end-to-end tests hold them against the simulator.
constexpr uint32_t kFwFixedSleepMs =
    waits::kAfterSwitchMs + waits::kAfterStartUpdateMs + waits::kAfterRestartMs + waits::kBeforeVersionReadBackMs;
constexpr uint32_t kFwChunkSleepMs = waits::kAfterLoadFlashMs;
constexpr uint32_t kCfgFixedSleepMs = waits::kAfterSendCmdMs + waits::kAfterFinishCmdMs + waits::kAfterCfgAttemptMs;

struct Plan {
  PlanDecision decision = PlanDecision::kUnreadable;
  std::string why;
  std::vector<std::string> lines;  // the job's own lines for the decision
  int32_t tessaroExitCode = kJobDone;
  uint32_t outputReports = 0;
  uint32_t inputReports = 0;
  uint32_t minimumWaitMs = 0;
  Json detail = Json::object();
  std::vector<std::string> detailText;
};

void Decide(Plan& plan, PlanDecision decision, std::string why, int32_t tessaroExitCode) {
  plan.decision = decision;
  plan.why = std::move(why);
  plan.tessaroExitCode = tessaroExitCode;
}

uint32_t ReportsFor(uint32_t lengthBytes) {
  return lengthBytes / reg::kWriteChunkBytes + (lengthBytes % reg::kWriteChunkBytes != 0 ? 1 : 0);
}

// The opening both plans share: one walk, and the plan of a walk that took
// no controller (busy or none), or the facts of the one it took; true when
// one was taken.
bool TakeController(HidDiagnosis& diagnosis, CConnectionTLC& connection, ControllerFacts& facts, Plan& plan) {
  const Survey survey = RunSurvey(diagnosis, connection);
  facts.matches = MatchingPaths(survey);
  if (survey.taken < 0 && survey.busy >= 0) {
    Decide(plan, PlanDecision::kBusy, kBusyNote, kJobNoController);
    plan.lines = {BusyLine(survey.entries[static_cast<size_t>(survey.busy)])};
    return false;
  }
  if (survey.taken < 0) {
    Decide(plan, PlanDecision::kNoController, survey.chosen.empty() ? kRetryNote : NoDeviceNote(survey.chosen),
           kJobNoController);
    return false;
  }
  facts.found = true;
  facts.path = survey.entries[static_cast<size_t>(survey.taken)].path;
  return true;
}

// A file name as a shell or cmd.exe takes it back: quoted when it holds
// anything but the characters of a plain name.
std::string ShellWord(const std::string& word) {
  bool plain = !word.empty();
  for (const char c : word) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string("-_./\\:+,=@").find(c) != std::string::npos;
    plain = plain && safe;
  }
  return plain ? word : "\"" + word + "\"";
}

// The tessaro run this plan foretells, the mask in the signed decimal form
// that tessaro's --flag takes.
std::string TessaroCommand(const InfoOptions& options, bool firmware, const std::string& name) {
  std::string command = std::string("tessaro ") + (firmware ? "-f" : "-c") + " --file=" + ShellWord(name);
  if (firmware) command += " --flag=" + std::to_string(static_cast<int32_t>(options.mask));
  if (options.ignoreVersion) command += " --ignoreVer";
  return command;
}

// The tail both plans share: the command's own keys or lines (json, head),
// then the plan's, printed; returns the exit code.
int PrintPlan(const InfoOptions& options, const Plan& plan, Json json, const std::string& head,
              const std::string& command) {
  const int exitCode = PlanExitCode(plan.decision);
  const bool update = plan.decision == PlanDecision::kUpdate;
  if (options.json) {
    json["decision"] = DecisionJsonWord(plan.decision);
    json["why"] = plan.why;
    json["lines"] = plan.lines;
    json.update(plan.detail);
    json["outputReports"] = update ? Json(plan.outputReports) : Json(nullptr);
    json["inputReports"] = update ? Json(plan.inputReports) : Json(nullptr);
    json["minimumWaitMs"] = update ? Json(plan.minimumWaitMs) : Json(nullptr);
    json["tessaroCommand"] = command;
    json["tessaroExitCode"] = plan.tessaroExitCode;
    json["exitCode"] = exitCode;
    PrintJson(json);
    return exitCode;
  }
  std::fputs(head.c_str(), stdout);
  std::printf("command: %s\n", Printable(command).c_str());
  std::printf("decision: %s: %s\n", DecisionWord(plan.decision), Printable(plan.why).c_str());
  for (const std::string& line : plan.detailText) std::printf("  %s\n", line.c_str());
  if (update) {
    std::printf("  at least %u output and %u input reports, and %u ms of the protocol's waits\n", plan.outputReports,
                plan.inputReports, plan.minimumWaitMs);
  }
  for (const std::string& line : plan.lines) std::printf("  %s\n", Printable(line).c_str());
  std::printf("tessaro would end with %d\n", plan.tessaroExitCode);
  return exitCode;
}

void PlanFirmwareUpdate(const CConnectionTLC& connection, const FirmwareAnalysis& analysis, Plan& plan) {
  Decide(plan, PlanDecision::kUpdate, "from VID " + VidText(connection.vid) + " to " + VidText(analysis.image.vid),
         kJobDone);
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
  plan.detail["fromVid"] = VidText(connection.vid);
  plan.detail["toVid"] = VidText(analysis.image.vid);
  plan.detail["writes"] = writes;
}

// The firmware job's course with this controller and image.
void DecideFirmware(const InfoOptions& options, const std::string& name, CConnectionTLC& connection,
                    ControllerFacts& facts, FirmwareAnalysis& analysis, Plan& plan) {
  if (!ReadVersion(connection, facts)) {
    Decide(plan, PlanDecision::kUnreadable, "the VERSION block could not be read", kFwJobUnreadable);
    plan.lines = facts.versionErrors;
    plan.lines.push_back("error     : read VERSION failed");
    return;
  }
  AnalyseFirmware(name, options.mask, analysis);
  if (analysis.loaderCode != kFwLoaded) {
    Decide(plan, PlanDecision::kRefused, analysis.file.error.empty() ? "the image does not load"
                                                                     : "the image file " + analysis.file.error,
           kFwJobFileRefused);
    plan.lines = analysis.reason;
    plan.lines.push_back("error     : Failed read firmware file:" + name + ", ret:" +
                         std::to_string(analysis.loaderCode));
    return;
  }
  LineCapture capture;
  const FwCondition condition = CheckFwConditions(connection, analysis.image, options.ignoreVersion);
  plan.lines = capture.Take();
  if (condition == FwCondition::kOtherPid) {
    Decide(plan, PlanDecision::kNoUpdate,
           std::string("another PID: controller ") + connection.pid + ", image " + analysis.image.pid, kJobDone);
  } else if (condition == FwCondition::kSameVid) {
    Decide(plan, PlanDecision::kNoUpdate, "the same VID " + VidText(connection.vid), kJobDone);
  } else if (!analysis.accepted) {
    Decide(plan, PlanDecision::kRefused, "the image cannot be written with mask " + Hex(options.mask, 1),
           analysis.tessaroRefusal);
    plan.lines = analysis.reason;
  } else {
    PlanFirmwareUpdate(connection, analysis, plan);
  }
}

// The configuration job's course with this controller and file.
void DecideConfig(const InfoOptions& options, const std::string& name, CConnectionTLC& connection,
                  ControllerFacts& facts, ConfigAnalysis& analysis, Plan& plan) {
  // As the job: a failed read leaves zeros, version 0 with an intact head.
  ReadHead(connection, facts);
  const uint8_t chipVersion = facts.head[0];
  AnalyseConfig(name, analysis);
  if (!analysis.image.valid) {
    Decide(plan, PlanDecision::kRefused,
           analysis.file.error.empty() ? "the configuration does not load"
                                       : "the configuration file " + analysis.file.error,
           kCfgJobFileRefused);
    plan.lines = analysis.reason;
    plan.lines.push_back("error     : Failed read cfg file:" + name + ", ret:" + std::to_string(analysis.loaderCode));
    return;
  }
  if (!analysis.accepted) {
    Decide(plan, PlanDecision::kRefused, "the configuration does not fit the register space",
           analysis.tessaroRefusal);
    plan.lines = analysis.reason;
    return;
  }
  LineCapture capture;
  const bool needed = CfgUpdateNeeded(chipVersion, analysis.image, options.ignoreVersion);
  plan.lines = capture.Take();
  if (!needed) {
    Decide(plan, PlanDecision::kNoUpdate,
           "the controller's version " + Hex(chipVersion, 2) + " is equal or newer than the file's " +
               Hex(analysis.image.version, 2),
           kCfgJobNotNeeded);
    return;
  }
  Decide(plan, PlanDecision::kUpdate,
         "from version " + Hex(chipVersion, 2) + " to " + CfgVersionText(analysis.image.version), kJobDone);
  // The whole run: the head; send command, one poll, the bytes, finish, one
  // poll; the head read back.
  plan.outputReports = 1 + 1 + 1 + ReportsFor(analysis.image.length) + 1 + 1 + 1;
  plan.inputReports = 4;
  plan.minimumWaitMs = kCfgFixedSleepMs;
  plan.detail["fromVersion"] = chipVersion;
  plan.detail["toVersion"] = analysis.image.version;
}

}  // namespace

int RunPlanFirmware(const InfoOptions& options, const std::string& name, HidDiagnosis& diagnosis) {
  CConnectionTLC connection;
  ControllerFacts facts;
  FirmwareAnalysis analysis;
  Plan plan;
  plan.detail = {{"fromVid", nullptr}, {"toVid", nullptr}, {"writes", nullptr}};
  if (TakeController(diagnosis, connection, facts, plan)) {
    DecideFirmware(options, name, connection, facts, analysis, plan);
  }
  connection.Close();
  const FwImage& image = analysis.image;
  Json json = {{"command", "plan"}, {"kind", "firmware"}, {"file", name}, {"mask", options.mask},
               {"ignoreVer", options.ignoreVersion}};
  json["controller"] = ControllerJson(connection, facts, true, false);
  PutMatches(json, ChosenDevice(), facts.matches);
  json["imagePid"] = image.valid ? Json(std::string(image.pid)) : Json(nullptr);
  json["imageVid"] = image.valid ? Json(VidText(image.vid)) : Json(nullptr);
  std::string head = MatchesText(ChosenDevice(), facts.matches, facts.path);
  head += ControllerText(connection, facts, true, false);
  if (image.valid) {
    head += "image: " + Printable(name) + ", PID " + Printable(image.pid) + ", VID " + VidText(image.vid) + ", mask " +
            Hex(options.mask, 1) + "\n";
  }
  return PrintPlan(options, plan, std::move(json), head, TessaroCommand(options, true, name));
}

int RunPlanConfig(const InfoOptions& options, const std::string& name, HidDiagnosis& diagnosis) {
  CConnectionTLC connection;
  ControllerFacts facts;
  ConfigAnalysis analysis;
  Plan plan;
  plan.detail = {{"fromVersion", nullptr}, {"toVersion", nullptr}};
  if (TakeController(diagnosis, connection, facts, plan)) {
    DecideConfig(options, name, connection, facts, analysis, plan);
  }
  connection.Close();
  const CfgImage& image = analysis.image;
  Json json = {{"command", "plan"}, {"kind", "config"}, {"file", name}, {"ignoreVer", options.ignoreVersion}};
  json["controller"] = ControllerJson(connection, facts, false, true);
  PutMatches(json, ChosenDevice(), facts.matches);
  json["fileVersion"] = image.valid ? Json(image.version) : Json(nullptr);
  std::string head = MatchesText(ChosenDevice(), facts.matches, facts.path);
  head += ControllerText(connection, facts, false, true);
  if (image.valid) {
    head += "file: " + Printable(name) + ", version " + CfgVersionText(image.version) + ", " +
            std::to_string(image.length) + " bytes\n";
  }
  return PrintPlan(options, plan, std::move(json), head, TessaroCommand(options, false, name));
}

}  // namespace tessaro::info
