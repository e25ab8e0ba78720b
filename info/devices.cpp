// tessaro-info devices: the walk with its diagnosis, and the controller
// tessaro would take, read as the jobs read it.
#include <cstdio>

#include "info/commands.h"
#include "info/info_command.h"
#include "info/output.h"
#include "transport/registers.h"

namespace tessaro::info {

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
    exitCode = version && head ? kExitOk : kExitUnreadable;
  } else if (survey.busy >= 0) {
    exitCode = kExitBusy;
  }
  connection.Close();
  if (options.json) {
    Json json = {{"command", "devices"},
                 {"build", {{"vendorId", kVendorId}, {"usagePage", reg::kUsagePage}, {"usage", reg::kUsage}}},
                 {"hostNotes", survey.hostNotes},
                 {"interfaces", SurveyJson(survey)},
                 // The matching collections of the walk, where a listing names them.
                 {"matches", nullptr},
                 {"controller", ControllerJson(connection, facts, true, true)},
                 {"note", facts.found ? Json(nullptr) : Json(survey.busy >= 0 ? kBusyNote : kRetryNote)},
                 {"exitCode", exitCode}};
    PrintJson(json);
  } else {
    std::printf("build: vendor %s, usage page %s, usage %s\n", Hex(kVendorId, 4).c_str(),
                Hex(reg::kUsagePage, 4).c_str(), Hex(reg::kUsage, 4).c_str());
    PrintSurvey(survey);
    if (facts.found) {
      std::fputs(ControllerText(connection, facts, true, true).c_str(), stdout);
    } else {
      std::printf("controller: none\nnote: %s\n", survey.busy >= 0 ? kBusyNote : kRetryNote);
    }
  }
  return exitCode;
}

}  // namespace tessaro::info
