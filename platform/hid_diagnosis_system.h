#pragma once
// The device listing's diagnosis of the platform's HID stack; the build links
// exactly one implementation (platform/win32 or platform/linux).
#include <memory>

#include "info/hid_diagnosis.h"

namespace tessaro {

std::unique_ptr<info::HidDiagnosis> MakeSystemHidDiagnosis();

}  // namespace tessaro
