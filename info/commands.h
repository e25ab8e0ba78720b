#pragma once
// The companion's commands, one file each (devices.cpp, firmware.cpp,
// config.cpp, plan.cpp); info_command.cpp's table of verbs picks one.
#include <cstdint>
#include <string>
#include <vector>

#include "base/hid_diagnosis.h"
#include "update/subfw_kinds.h"

namespace tessaro::info {

// The command line, read once.
struct InfoOptions {
  bool json = false;
  bool help = false;
  bool version = false;
  bool ignoreVersion = false;
  uint32_t mask = kDefaultSubFwMask;
  bool maskGiven = false;
  // --device: the controller's path as devices prints it, "" for the first match.
  std::string device;
  std::vector<std::string> words;
  std::string error;
};

// Each returns the exit code; file is the command's FILE, "" for devices.
int RunDevices(const InfoOptions& options, const std::string& file, HidDiagnosis& diagnosis);
int RunFirmware(const InfoOptions& options, const std::string& file, HidDiagnosis& diagnosis);
int RunConfig(const InfoOptions& options, const std::string& file, HidDiagnosis& diagnosis);
int RunPlanFirmware(const InfoOptions& options, const std::string& file, HidDiagnosis& diagnosis);
int RunPlanConfig(const InfoOptions& options, const std::string& file, HidDiagnosis& diagnosis);

}  // namespace tessaro::info
