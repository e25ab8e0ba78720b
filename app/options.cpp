#include "app/options.h"

#include <cstdio>

namespace tessaro {
namespace {

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

struct PropertyWord {
  Property property;
  const char* word;  // lower case
};
constexpr PropertyWord kPropertyWords[] = {
    {Property::kPid, "pid"}, {Property::kVid, "vid"}, {Property::kSensorId, "sensorid"},
    {Property::kCfgVersion, "cfgver"}};

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

RunOptions ReadOptions(cmdline::parser& options) {
  RunOptions run;
  run.firmware = options.isSet("firmware");
  run.config = options.isSet("config");
  if (options.isSet("prop")) run.prop = options.value<std::string>("prop");
  if (options.isSet("file")) run.file = options.value<std::string>("file");
  run.ignoreVer = options.isSet("ignoreVer");
  run.flagGiven = options.isSet("flag");
  if (run.flagGiven) run.flag = static_cast<uint32_t>(options.value<int32_t>("flag"));
  run.debug = options.isSet("debug");
  run.version = options.isSet("version");
  return run;
}

JobKind ChosenJob(const RunOptions& options) {
  if (options.prop) return JobKind::kQuery;
  if (options.config) return JobKind::kConfig;
  if (options.firmware) return JobKind::kFirmware;
  return JobKind::kNone;
}

std::string LowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

Property PropertyOf(const std::string& word) {
  const std::string lower = LowerCase(word);
  for (const PropertyWord& entry : kPropertyWords) {
    if (lower == entry.word) return entry.property;
  }
  return Property::kUnknown;
}

}  // namespace tessaro
