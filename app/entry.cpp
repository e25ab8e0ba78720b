#include "app/entry.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/options.h"
#include "app/run_records.h"
#include "base/log.h"
#include "cmdline/cmdline.h"
#include "transport/connection.h"
#include "update/jobs.h"

namespace tessaro {
namespace {

// The project's version in the build, the one place it is written.
constexpr const char* kVersionNumber = TESSARO_VERSION;

int32_t RunPropertyQuery(Property property) {
  switch (property) {
    case Property::kPid: return ReadFwPid();
    case Property::kVid: return ReadFwVid();
    // These two are the property itself, so the exit code holds one byte.
    case Property::kSensorId: return ReadSensorId() & 0xFF;
    case Property::kCfgVersion: return ReadCfgVersion() & 0xFF;
    case Property::kUnknown: break;
  }
  return kJobDone;
}

}  // namespace

int32_t RunTessaro(int argc, char** argv) {
  logSink = WriteLogLine;
  RunRecords records(argc > 0 ? argv[0] : nullptr, kVersionNumber);
  // The C call, not std::locale(""), which throws on some runtimes when the
  // environment names a locale they lack.
  std::setlocale(LC_ALL, "");

  cmdline::parser parser;
  DeclareOptions(parser);
  // The parser ends help and wrong command lines itself; the result file
  // still has to say so, or an earlier run's would stand for this one.
  parser.parseOrExit(argc, argv, [&records](int exitCode, const std::string& error) {
    records.ParserEnded(exitCode, error);
  });
  const RunOptions options = ReadOptions(parser);
  records.SetOptions(options);
  // A variable rather than an option, so that the command line stays as
  // scripts know it; unset or empty, the first match is the controller.
  const char* device = std::getenv("TESSARO_DEVICE");
  ChooseDevice(device != nullptr ? device : "");

  // The refusals below print straight to the console: they run before any
  // job, so they neither open nor touch the log file.
  const bool file = options.file.has_value();
  const bool prop = options.prop.has_value();
  if (argc < 2 || !(options.firmware || options.config || file || prop || options.version)) {
    std::printf("invalid parameters,for help --help or -?\n");
    return records.Refused(kExitInvalidParameters, "invalid parameters,for help --help or -?");
  }
  if ((options.firmware || options.config) && !file) std::printf("file name is NULL\n");
  if (options.firmware && options.config) {
    std::printf("Firmware and config can't be upgraded at the same time");
    return records.Refused(kExitInvalidParameters, "Firmware and config can't be upgraded at the same time");
  }
  if (options.debug) logMask = 3;
  if (options.flagGiven) std::printf("firmware update sub type flag:0x%x", options.flag);
  if (options.version) {
    std::printf("%s\n", kVersionNumber);
    return records.NoResult(0);
  }
  if (!file && !prop) {
    std::printf("file name is NULL\n");
    return records.Refused(kExitNoFileName, "file name is NULL");
  }

  const JobKind job = ChosenJob(options);
  const std::string fileName = options.file.value_or("");
  int32_t result = kJobDone;
  switch (job) {
    case JobKind::kFirmware:
      records.SetJob(job, "");
      std::printf("update firmware, file name:%s\n", fileName.c_str());
      result = UpdateFw(fileName.c_str(), options.ignoreVer, options.flag);
      break;
    case JobKind::kConfig:
      records.SetJob(job, "");
      std::printf("update configuration, file name:%s\n", fileName.c_str());
      result = UpdateCfg(fileName.c_str(), options.ignoreVer);
      break;
    case JobKind::kQuery:
      records.SetJob(job, LowerCase(*options.prop));
      result = RunPropertyQuery(PropertyOf(*options.prop));
      break;
    case JobKind::kNone:
      break;
  }
  FinishLogFile();
  return records.Finish(result);
}

}  // namespace tessaro
