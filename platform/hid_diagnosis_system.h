#pragma once
// The device listing's diagnosis of the platform's HID stack; the build links
// exactly one implementation (platform/win32 or platform/linux).
#include <memory>

#include "base/hid_diagnosis.h"

namespace tessaro {

std::unique_ptr<HidDiagnosis> MakeSystemHidDiagnosis();

}  // namespace tessaro
