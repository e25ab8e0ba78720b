#include "base/system.h"
#include "info/info_command.h"
#include "platform/hid_diagnosis_system.h"

int main(int argc, char** argv) {
  tessaro::OpenStandardStreams();
  tessaro::SystemBackends backends;
  const auto diagnosis = tessaro::MakeSystemHidDiagnosis();
  return tessaro::info::RunInfo(argc, argv, *diagnosis);
}
