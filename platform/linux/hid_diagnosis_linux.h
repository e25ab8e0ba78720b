#pragma once
// Why a hidraw node cannot be opened, in the words of the fix: the node's
// group and mode, whether a udev rule for the build's vendor is installed,
// whether the user is in the node's group (or was added but has not logged
// in again since), and a kernel older than 5.11.
#include <string>
#include <vector>

#include "base/hid_diagnosis.h"

namespace tessaro {

class HidrawDiagnosis final : public HidDiagnosis {
 public:
  // The roots of the kernel's views and of the udev rule folders; tests
  // point them at trees of their own.
  explicit HidrawDiagnosis(std::string sysfsRoot = "/sys", std::string rootFs = "");

  InterfaceFacts Describe(const HidInterface& interface) override;
  OpenProblem ExplainOpenFailure(const HidInterface& interface, const InterfaceFacts& facts,
                                       uint32_t error) override;
  std::vector<std::string> HostNotes() override;

 private:
  bool RuleInstalled(uint16_t vendorId) const;

  std::string sysfsRoot_;
  std::string rootFs_;
};

// "5.10.0-9-amd64" is older than 5.11; false when the text is no version.
bool KernelOlderThan511(const std::string& release);

}  // namespace tessaro
