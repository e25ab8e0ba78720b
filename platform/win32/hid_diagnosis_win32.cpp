// The device listing's diagnosis on Windows: attributes and capabilities of
// an interface read through a handle without read or write access, which
// Windows gives even for the collections it holds itself (keyboards, mice,
// touch digitizers), and an open error in words. The seam's headers come
// before <windows.h>, whose `interface` macro would break them.
#include "base/hid_diagnosis.h"
#include "platform/hid_diagnosis_system.h"

#include <windows.h>

#include <cwctype>
#include <string>

extern "C" {
#include <hidsdi.h>
}

namespace tessaro {
namespace {

class QueryHandle {
 public:
  explicit QueryHandle(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~QueryHandle() {
    if (ok()) CloseHandle(handle_);
  }
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The hardware ID in the path tells the bus: USB devices carry VID_/PID_,
// ACPI-enumerated HID-over-I2C ones VEN_/DEV_, Bluetooth ones the HID service
// UUID.
std::string BusFromPath(const std::wstring& path) {
  const std::wstring lower = Lower(path);
  if (lower.find(L"{00001124-0000-1000-8000-00805f9b34fb}") != std::wstring::npos) return "Bluetooth";
  if (lower.find(L"vid_") != std::wstring::npos) return "USB";
  if (lower.find(L"ven_") != std::wstring::npos) return "I2C";
  return "";
}

const char* SystemRole(const InterfaceFacts& facts) {
  if (!facts.haveUsages) return nullptr;
  if (facts.usagePage == 0x01 && facts.usage == 0x06) return "keyboard";
  if (facts.usagePage == 0x01 && facts.usage == 0x02) return "mouse";
  if (facts.usagePage == 0x01 && facts.usage == 0x80) return "system control";
  if (facts.usagePage == 0x0C) return "consumer control";
  if (facts.usagePage == 0x0D) return "touch digitizer";
  return nullptr;
}

class Win32Diagnosis final : public HidDiagnosis {
 public:
  InterfaceFacts Describe(const HidInterface& target) override {
    InterfaceFacts facts;
    facts.bus = BusFromPath(target.path);
    const QueryHandle handle(target.path);
    if (!handle.ok()) return facts;
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (HidD_GetAttributes(handle.get(), &attributes)) {
      facts.haveIds = true;
      facts.vendorId = attributes.VendorID;
      facts.productId = attributes.ProductID;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (HidD_GetPreparsedData(handle.get(), &preparsed)) {
      HIDP_CAPS caps = {};
      if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        facts.haveUsages = true;
        facts.usagePage = caps.UsagePage;
        facts.usage = caps.Usage;
      }
      HidD_FreePreparsedData(preparsed);
    }
    return facts;
  }

  OpenProblem ExplainOpenFailure(const HidInterface&, const InterfaceFacts& facts,
                                       uint32_t error) override {
    OpenProblem problem;
    problem.error = "error " + std::to_string(error) + " (" + Message(error) + ")";
    const char* role = SystemRole(facts);
    if (error == ERROR_ACCESS_DENIED && role != nullptr) {
      problem.systemHeld = true;
      problem.hint = std::string("Windows holds its ") + role + " collections for itself";
    } else if (error == ERROR_ACCESS_DENIED) {
      problem.hint =
          "access denied: another program holds the collection for itself, or it needs administrator rights; close "
          "other touch tools or run as administrator";
    } else if (error == ERROR_SHARING_VIOLATION) {
      problem.hint = "sharing violation: another program has it open without sharing; close that program";
    } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_DEVICE_NOT_CONNECTED) {
      problem.hint = "the device went away during the walk";
    }
    return problem;
  }

  std::vector<std::string> HostNotes() override { return {}; }

 private:
  static std::string Message(uint32_t error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.')) {
      message.pop_back();
    }
    return message.empty() ? "unknown" : message;
  }
};

}  // namespace

std::unique_ptr<HidDiagnosis> MakeSystemHidDiagnosis() { return std::make_unique<Win32Diagnosis>(); }

}  // namespace tessaro
