#include "app/entry.h"

#include <clocale>
#include <cstdio>
#include <string>

#include "app/options.h"
#include "app/run_records.h"
#include "base/log.h"
#include "cmdline/cmdline.h"
#include "update/jobs.h"
#include "update/subfw_kinds.h"

namespace tessaro {
namespace {

enum class JobKind { kNone, kFirmware, kConfiguration, kProperty };

// The project's version in the build, the one place it is written.
constexpr const char* kVersionNumber = TESSARO_VERSION;

// "bit2:KV30 bitb:Q5 ...,default=0x844(KV30+Q5+short)": each kind's bit in
// hex, then the default mask and the kinds it holds.
std::string FlagHelpText() {
  std::string text = "flag that indicate which type of sub firmware should be update;\r\n\t\t";
  char number[16];
  std::string neededNames;
  for (const SubFwKindInfo& kind : kSubFwKinds) {
    std::snprintf(number, sizeof number, "%x", kind.type);
    if (&kind != &kSubFwKinds[0]) text += " ";
    text += std::string("bit") + number + ":" + kind.flagName;
    if (kind.needed) neededNames += (neededNames.empty() ? "" : "+") + std::string(kind.flagName);
  }
  std::snprintf(number, sizeof number, "%x", kDefaultSubFwMask);
  return text + ",default=0x" + number + "(" + neededNames + ")";
}

// The property word picks the query; a word that names none runs nothing
// and leaves the exit code at 0.
// ASCII only: under a Turkish locale tolower('I') is not 'i', and
// "sensorID" or "PID" would run nothing.
std::string LowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

int32_t RunPropertyQuery(const std::string& text) {
  const std::string property = LowerCase(text);
  if (property == "pid") return ReadFwPid();
  if (property == "vid") return ReadFwVid();
  // These two are the property itself, so the exit code holds one byte.
  if (property == "sensorid") return ReadSensorId() & 0xFF;
  if (property == "cfgver") return ReadCfgVersion() & 0xFF;
  return 0;
}

}  // namespace

void DeclareOptions(cmdline::parser& options) {
  options.addFlag("ignoreVer", 'i', "Ignore version forced update");
  options.addFlag("firmware", 'f', "update firmware");
  options.addFlag("config", 'c', "update configuration");
  options.addFlag("debug", 'd', "open debug log switch");
  options.addFlag("version", 'v', "version of this app");
  options.addOption<std::string>("prop", 'p', "get info from ic.option for [pid vid sensorID cfgver]", false, "pid");
  options.addOption<std::string>("file", 0, "file of firmware or config", false, "");
  options.addOption<int32_t>("flag", 0, FlagHelpText(), false, static_cast<int32_t>(kDefaultSubFwMask));
}

int32_t RunTessaro(int argc, char** argv) {
  std::string fileName;
  std::string propertyText;
  uint32_t subTypeFlag = kDefaultSubFwMask;

  logSink = WriteLogLine;
  RunRecords records(argc > 0 ? argv[0] : nullptr, kVersionNumber);
  // The C call, not std::locale(""), which throws on some runtimes when the
  // environment names a locale they lack.
  std::setlocale(LC_ALL, "");

  cmdline::parser options;
  DeclareOptions(options);
  options.parseOrExit(argc, argv);

  const bool firmware = options.isSet("firmware");
  const bool config = options.isSet("config");
  const bool file = options.isSet("file");
  const bool prop = options.isSet("prop");
  const bool version = options.isSet("version");
  RecordedOptions recorded;
  recorded.firmware = firmware;
  recorded.config = config;
  if (prop) recorded.prop = options.value<std::string>("prop");
  if (file) recorded.file = options.value<std::string>("file");
  recorded.ignoreVer = options.isSet("ignoreVer");
  if (options.isSet("flag")) recorded.flag = static_cast<uint32_t>(options.value<int32_t>("flag"));
  recorded.debug = options.isSet("debug");
  records.SetOptions(recorded);

  // The refusals below print straight to the console: they run before any
  // job, so they neither open nor touch the log file.
  if (argc < 2 || !(firmware || config || file || prop || version)) {
    std::printf("invalid parameters,for help --help or -?\n");
    return records.Refused(1, "invalid parameters,for help --help or -?");
  }
  if ((firmware || config) && !file) std::printf("file name is NULL\n");
  if (firmware && config) {
    std::printf("Firmware and config can't be upgraded at the same time");
    return records.Refused(1, "Firmware and config can't be upgraded at the same time");
  }

  const bool ignoreVersion = options.isSet("ignoreVer");
  JobKind job = JobKind::kNone;
  if (firmware) job = JobKind::kFirmware;
  if (config) job = JobKind::kConfiguration;
  if (prop) {
    job = JobKind::kProperty;
    propertyText = options.value<std::string>("prop");
  }
  if (options.isSet("debug")) logMask = 3;
  if (file) fileName = options.value<std::string>("file");
  if (options.isSet("flag")) {
    subTypeFlag = static_cast<uint32_t>(options.value<int32_t>("flag"));
    std::printf("firmware update sub type flag:0x%x", subTypeFlag);
  }
  if (version) {
    std::printf("%s\n", kVersionNumber);
    return 0;
  }
  if (!file && !prop) {
    std::printf("file name is NULL\n");
    return records.Refused(-1, "file name is NULL");
  }

  int32_t result = 0;
  switch (job) {
    case JobKind::kFirmware:
      records.SetJob(RecordedJob::kFirmware, "");
      std::printf("update firmware, file name:%s\n", fileName.c_str());
      result = UpdateFw(fileName.c_str(), ignoreVersion, subTypeFlag);
      break;
    case JobKind::kConfiguration:
      records.SetJob(RecordedJob::kConfig, "");
      std::printf("update configuration, file name:%s\n", fileName.c_str());
      result = UpdateCfg(fileName.c_str(), ignoreVersion);
      break;
    case JobKind::kProperty:
      records.SetJob(RecordedJob::kQuery, LowerCase(propertyText));
      result = RunPropertyQuery(propertyText);
      break;
    case JobKind::kNone:
      break;
  }
  FinishLogFile();
  return records.Finish(result);
}

}  // namespace tessaro
