// tessaro-info devices: the walk with its diagnosis, and the controller
// tessaro would take, read as the jobs read it.
#include <cstdio>

#include "info/commands.h"
#include "info/info_command.h"
#include "info/output.h"
#include "transport/registers.h"
#include "update/decisions.h"

namespace tessaro::info {
namespace {

// What to do next, where the listing alone leaves a person guessing.
std::vector<std::string> Hints(const Survey& survey, const ControllerFacts& facts) {
  std::vector<std::string> hints;
  if (survey.entries.empty()) {
    hints.push_back(
        "the system shows no HID interfaces at all: check that the touch controller is connected and enabled "
        "and its HID driver is loaded (Windows: Device Manager, Human Interface Devices; Linux: ls /dev/hidraw*, "
        "the i2c_hid and hidraw modules), then run tessaro-info devices again");
  }
  for (size_t i = 0; i < survey.entries.size(); ++i) {
    const SurveyEntry& entry = survey.entries[i];
    if (!entry.otherVendor) continue;
    hints.push_back("[" + std::to_string(i) + "] has the controller's usages but vendor " +
                    Hex(entry.facts.vendorId, 4) + ", and this build of tessaro takes vendor " + Hex(kVendorId, 4) +
                    " only: it is a release built for another maker; use the release built for vendor " +
                    Hex(entry.facts.vendorId, 4));
  }
  if (facts.inUpdateProgram) {
    hints.push_back(
        "the controller is still in its update program (0x5095 reads 0xDD), as a firmware update that did not "
        "finish leaves it: run the firmware update again (tessaro -f --file=FW, with --ignoreVer if it finds the "
        "VID the same) before anything else");
  }
  if (facts.headRead && !CfgHeadIntact(facts.head)) {
    hints.push_back(
        "the configuration head does not sum to 0 (a configuration write cut short, or a damaged configuration): "
        "write a good configuration with tessaro -c --ignoreVer --file=CFG, since its version byte cannot be "
        "trusted");
  }
  return hints;
}

}  // namespace

int RunDevices(const InfoOptions& options, const std::string&, HidDiagnosis& diagnosis) {
  CConnectionTLC connection;
  const Survey survey = RunSurvey(diagnosis, connection);
  ControllerFacts facts;
  int exitCode = kExitNoController;
  if (survey.taken >= 0) {
    facts.found = true;
    facts.path = survey.entries[static_cast<size_t>(survey.taken)].path;
    const bool version = ReadVersion(connection, facts);
    const bool head = ReadHead(connection, facts);
    ReadPatchState(connection, facts);
    exitCode = version && head ? kExitOk : kExitUnreadable;
  } else if (survey.busy >= 0) {
    exitCode = kExitBusy;
  }
  connection.Close();
  const std::vector<std::string> hints = Hints(survey, facts);
  const std::vector<std::string> matches = MatchingPaths(survey);
  std::string note = survey.busy >= 0 ? kBusyNote : kRetryNote;
  if (survey.busy < 0 && !survey.chosen.empty()) note = NoDeviceNote(survey.chosen);
  if (options.json) {
    Json json = {{"command", "devices"},
                 {"build", {{"vendorId", kVendorId}, {"usagePage", reg::kUsagePage}, {"usage", reg::kUsage}}},
                 {"hostNotes", survey.hostNotes},
                 {"interfaces", SurveyJson(survey)},
                 {"controller", ControllerJson(connection, facts, true, true)},
                 {"note", facts.found ? Json(nullptr) : Json(note)},
                 {"hints", hints}};
    PutMatches(json, survey.chosen, matches);
    json["exitCode"] = exitCode;
    PrintJson(json);
  } else {
    std::printf("build: vendor %s, usage page %s, usage %s\n", Hex(kVendorId, 4).c_str(),
                Hex(reg::kUsagePage, 4).c_str(), Hex(reg::kUsage, 4).c_str());
    PrintSurvey(survey);
    std::fputs(MatchesText(survey.chosen, matches, facts.path).c_str(), stdout);
    if (facts.found) {
      std::fputs(ControllerText(connection, facts, true, true).c_str(), stdout);
    } else {
      std::printf("controller: none\nnote: %s\n", note.c_str());
    }
    for (const std::string& hint : hints) std::printf("hint: %s\n", hint.c_str());
  }
  return exitCode;
}

}  // namespace tessaro::info
