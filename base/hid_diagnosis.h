#pragma once
// The diagnosis seam: what tessaro-info's devices listing needs of a HID
// backend beyond the HID seam: the facts the platform tells about an
// interface without opening it, and an open error in words with its likely
// cause and fix. One implementation per backend (platform/linux,
// platform/win32, sim/); it sits on the ground floor with the other seams so
// that the backends need not reach up to the companion's floor.
#include <cstdint>
#include <string>
#include <vector>

#include "base/hid.h"

namespace tessaro {

struct InterfaceFacts {
  std::string bus;  // "I2C", "USB", "Bluetooth", "virtual", "unknown", or "" when not asked
  bool haveIds = false;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool haveUsages = false;
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  // Report lengths, report ID included, where the platform tells them.
  bool haveReportLengths = false;
  uint16_t inputReportBytes = 0;
  uint16_t outputReportBytes = 0;
};

struct OpenProblem {
  std::string error;  // the system's error, e.g. "EACCES (Permission denied)"
  std::string hint;   // likely cause and fix; "" when there is nothing to say
  // The system itself holds the collection (Windows: keyboards, mice, touch
  // digitizers): not a fault.
  bool systemHeld = false;
};

class HidDiagnosis {
 public:
  virtual ~HidDiagnosis() = default;
  virtual InterfaceFacts Describe(const HidInterface& interface) = 0;
  // error is the HID seam's LastError() right after the failed Open.
  virtual OpenProblem ExplainOpenFailure(const HidInterface& interface, const InterfaceFacts& facts,
                                         uint32_t error) = 0;
  // Facts about the host that bear on every interface (an old kernel, no
  // hidraw at all), each one line.
  virtual std::vector<std::string> HostNotes() = 0;
};

}  // namespace tessaro
