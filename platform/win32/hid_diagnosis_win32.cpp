// The device listing's diagnosis on Windows: attributes and capabilities of
// an interface read through a handle without read or write access, which
// Windows gives even for the collections it holds itself (keyboards, mice,
// touch digitizers), the bus from the device nodes above it, and an open
// error in words. Every Win32 call goes through the table of win32_api.h.
// The seam's headers come
// before <windows.h>, whose `interface` macro would break them.
#include "base/hid_diagnosis.h"
#include "platform/hid_diagnosis_system.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/system_words.h"
#include "platform/win32/win32_api.h"
#include "platform/windows_hid_ids.h"

namespace tessaro {
namespace {

class QueryHandle {
 public:
  explicit QueryHandle(const std::wstring& path)
      : handle_(Api().CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~QueryHandle() {
    if (ok()) Api().CloseHandle(handle_);
  }
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class InfoSet {
 public:
  InfoSet() : set_(Api().SetupDiCreateDeviceInfoList(nullptr, nullptr)) {}
  ~InfoSet() {
    if (set_ != INVALID_HANDLE_VALUE) Api().SetupDiDestroyDeviceInfoList(set_);
  }
  InfoSet(const InfoSet&) = delete;
  InfoSet& operator=(const InfoSet&) = delete;
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

// The device node of an interface path.
bool DeviceNodeOf(const std::wstring& path, DEVINST& node) {
  const InfoSet set;
  if (set.get() == INVALID_HANDLE_VALUE) return false;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  if (!Api().SetupDiOpenDeviceInterfaceW(set.get(), path.c_str(), 0, &interfaceData)) return false;
  DWORD requiredBytes = 0;
  Api().SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0, &requiredBytes, nullptr);
  if (requiredBytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
  std::unique_ptr<void, decltype(&std::free)> block(std::calloc(1, requiredBytes), &std::free);
  if (!block) return false;
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (!Api().SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, detail, requiredBytes, nullptr, &device)) {
    return false;
  }
  node = device.DevInst;
  return true;
}

// The bus from the device nodes above the collection's: the HID device
// (a HID-over-I2C device's ACPI node, a USB interface, a Bluetooth
// service), a few levels up at most. The path names no bus on I2C.
std::string BusOfInterface(const std::wstring& path) {
  DEVINST node = 0;
  if (!DeviceNodeOf(path, node)) return "unknown";
  for (int level = 0; level < 3; ++level) {
    DEVINST parent = 0;
    if (Api().CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (Api().CM_Get_Device_IDW(parent, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
    wchar_t compatible[1024] = {};
    ULONG compatibleBytes = sizeof compatible - 2 * sizeof(wchar_t);
    std::vector<std::wstring> compatibleIds;
    if (Api().CM_Get_DevNode_Registry_PropertyW(parent, CM_DRP_COMPATIBLEIDS, nullptr, compatible, &compatibleBytes,
                                                0) == CR_SUCCESS) {
      compatibleIds = SplitMultiString(compatible, compatibleBytes / sizeof(wchar_t));
    }
    const std::string bus = BusOfDeviceNode(id, compatibleIds);
    if (!bus.empty()) return bus;
    node = parent;
  }
  return "unknown";
}

class Win32Diagnosis final : public HidDiagnosis {
 public:
  InterfaceFacts Describe(const HidInterface& target) override {
    InterfaceFacts facts;
    facts.bus = BusOfInterface(target.path);
    const QueryHandle handle(target.path);
    if (!handle.ok()) return facts;
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (Api().HidD_GetAttributes(handle.get(), &attributes)) {
      facts.haveIds = true;
      facts.vendorId = attributes.VendorID;
      facts.productId = attributes.ProductID;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (Api().HidD_GetPreparsedData(handle.get(), &preparsed)) {
      HIDP_CAPS caps = {};
      if (Api().HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        facts.haveUsages = true;
        facts.usagePage = caps.UsagePage;
        facts.usage = caps.Usage;
        facts.haveReportLengths = true;
        facts.inputReportBytes = caps.InputReportByteLength;
        facts.outputReportBytes = caps.OutputReportByteLength;
      }
      Api().HidD_FreePreparsedData(preparsed);
    }
    return facts;
  }

  OpenProblem ExplainOpenFailure(const HidInterface&, const InterfaceFacts& facts,
                                       uint32_t error) override {
    OpenProblem problem;
    problem.error = "error " + std::to_string(error) + " (" + Message(error) + ")";
    const char* role = facts.haveUsages ? SystemRoleOfCollection(facts.usagePage, facts.usage) : nullptr;
    if (SystemHoldsCollection(role, error)) {
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
    const std::string words = SystemWords(error);
    return words.empty() ? "unknown" : words;
  }

};

}  // namespace

std::unique_ptr<HidDiagnosis> MakeSystemHidDiagnosis() { return std::make_unique<Win32Diagnosis>(); }

}  // namespace tessaro
