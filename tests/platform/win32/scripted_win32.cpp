#include "tests/platform/win32/scripted_win32.h"

#include <cstddef>
#include <cstring>

#include "sim/state.h"

#ifndef IOCTL_HID_SET_OUTPUT_REPORT
#define IOCTL_HID_SET_OUTPUT_REPORT CTL_CODE(FILE_DEVICE_KEYBOARD, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#endif

namespace tessaro::testing {
namespace {

const HDEVINFO kWalkSet = reinterpret_cast<HDEVINFO>(0x5E7);
const HDEVINFO kInfoList = reinterpret_cast<HDEVINFO>(0x5E8);
// Device nodes: a collection's is 100 + its index, the one above it 200 +.
constexpr DEVINST kCollectionNodes = 100;
constexpr DEVINST kParentNodes = 200;
// A wrong buffer size, as the class driver refuses it.
constexpr DWORD kInvalidUserBuffer = 1784;

}  // namespace

ScriptedWin32* ScriptedWin32::host_ = nullptr;

ScriptedWin32::ScriptedWin32(std::vector<ScriptedCollection> present)
    : collections(std::move(present)),
      state(sim::FactoryState(kVendorId)),
      controller(state, flash, [](const std::string&) {}),
      api_(SystemWin32Api()),
      installed_(api_) {
  host_ = this;
  api_.SetupDiGetClassDevsW = &GetClassDevs;
  api_.SetupDiEnumDeviceInterfaces = &EnumInterfaces;
  api_.SetupDiGetDeviceInterfaceDetailW = &InterfaceDetail;
  api_.SetupDiDestroyDeviceInfoList = &DestroyList;
  api_.SetupDiCreateDeviceInfoList = &CreateList;
  api_.SetupDiOpenDeviceInterfaceW = &OpenInterface;
  api_.CM_Get_Parent = &GetParent;
  api_.CM_Get_Device_IDW = &GetDeviceId;
  api_.CM_Get_DevNode_Registry_PropertyW = &GetNodeProperty;
  api_.HidD_GetPreparsedData = &GetPreparsed;
  api_.HidD_FreePreparsedData = &FreePreparsed;
  api_.HidP_GetCaps = &GetCaps;
  api_.HidD_GetAttributes = &GetAttributes;
  api_.CreateFileW = &Create;
  api_.CloseHandle = &Close;
  api_.DeviceIoControl = &Ioctl;
  api_.GetOverlappedResult = &Result;
  api_.CancelIoEx = &Cancel;
  api_.WaitForSingleObject = &Wait;
}

ScriptedWin32::~ScriptedWin32() { host_ = nullptr; }

void ScriptedWin32::Replace(const std::wstring& oldPath, const std::wstring& newPath) {
  for (auto& handle : handles_) handle.second.gone = handle.second.gone || handle.second.path == oldPath;
  for (size_t i = 0; i < collections.size(); ++i) {
    if (collections[i].path != oldPath) continue;
    if (newPath.empty()) {
      collections.erase(collections.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      collections[i].path = newPath;
    }
    return;
  }
}

const ScriptedCollection* ScriptedWin32::Find(const std::wstring& path) const {
  for (const ScriptedCollection& collection : collections) {
    if (collection.path == path) return &collection;
  }
  return nullptr;
}

const ScriptedCollection* ScriptedWin32::Behind(HANDLE handle) const {
  const auto found = handles_.find(handle);
  return found == handles_.end() || found->second.gone ? nullptr : Find(found->second.path);
}

bool ScriptedWin32::Carry(const Handle& handle, DWORD ioctl, const uint8_t* in, uint8_t* out, DWORD& error) {
  const ScriptedCollection* collection = handle.gone ? nullptr : Find(handle.path);
  if (collection == nullptr) {
    error = ERROR_DEVICE_NOT_CONNECTED;
    return false;
  }
  const bool output = ioctl == IOCTL_HID_SET_OUTPUT_REPORT;
  if ((output ? collection->outputBytes : collection->inputBytes) != kReportLengthBytes) {
    error = kInvalidUserBuffer;
    return false;
  }
  sim::ReportBytes report = {};
  std::memcpy(report, output ? in : out, sizeof report);
  const bool ok = output ? controller.SendOutput(report) : controller.FetchInput(report);
  if (!ok) {
    error = ERROR_GEN_FAILURE;
    return false;
  }
  if (output) {
    if (afterOutput) afterOutput(in);
  } else {
    std::memcpy(out, report, sizeof report);
  }
  return true;
}

HDEVINFO WINAPI ScriptedWin32::GetClassDevs(const GUID*, PCWSTR, HWND, DWORD) {
  ++host_->walks;
  host_->walkBase_ = host_->interfacePaths_.size();
  host_->walkCount_ = host_->collections.size();
  for (const ScriptedCollection& collection : host_->collections) host_->interfacePaths_.push_back(collection.path);
  return kWalkSet;
}

WINBOOL WINAPI ScriptedWin32::EnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                             PSP_DEVICE_INTERFACE_DATA data) {
  if (set != kWalkSet || index >= host_->walkCount_) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = host_->walkBase_ + index + 1;
  return TRUE;
}

WINBOOL WINAPI ScriptedWin32::InterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                              PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD sizeBytes,
                                              PDWORD requiredBytes, PSP_DEVINFO_DATA device) {
  const std::wstring& path = host_->interfacePaths_.at(data->Reserved - 1);
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(WCHAR));
  if (requiredBytes != nullptr) *requiredBytes = needed;
  if (detail == nullptr || sizeBytes < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  if (device != nullptr) {
    device->DevInst = 0;
    for (size_t i = 0; i < host_->collections.size(); ++i) {
      if (host_->collections[i].path == path) device->DevInst = kCollectionNodes + static_cast<DEVINST>(i);
    }
  }
  return TRUE;
}

WINBOOL WINAPI ScriptedWin32::DestroyList(HDEVINFO) { return TRUE; }

HDEVINFO WINAPI ScriptedWin32::CreateList(const GUID*, HWND) { return kInfoList; }

WINBOOL WINAPI ScriptedWin32::OpenInterface(HDEVINFO, PCWSTR path, DWORD, PSP_DEVICE_INTERFACE_DATA data) {
  if (host_->Find(path) == nullptr) {
    SetLastError(ERROR_NO_SUCH_DEVICE_INTERFACE);
    return FALSE;
  }
  host_->interfacePaths_.push_back(path);
  data->Reserved = host_->interfacePaths_.size();
  return TRUE;
}

CONFIGRET WINAPI ScriptedWin32::GetParent(PDEVINST parent, DEVINST node, ULONG) {
  if (node < kCollectionNodes || node >= kParentNodes) return CR_NO_SUCH_DEVNODE;
  const size_t index = node - kCollectionNodes;
  if (index >= host_->collections.size() || host_->collections[index].parentId.empty()) return CR_NO_SUCH_DEVNODE;
  *parent = kParentNodes + static_cast<DEVINST>(index);
  return CR_SUCCESS;
}

CONFIGRET WINAPI ScriptedWin32::GetDeviceId(DEVINST node, PWCHAR buffer, ULONG lengthChars, ULONG) {
  const size_t index = node - kParentNodes;
  if (node < kParentNodes || index >= host_->collections.size()) return CR_NO_SUCH_DEVNODE;
  const std::wstring& id = host_->collections[index].parentId;
  if (id.size() >= lengthChars) return CR_BUFFER_SMALL;
  std::memcpy(buffer, id.c_str(), (id.size() + 1) * sizeof(WCHAR));
  return CR_SUCCESS;
}

CONFIGRET WINAPI ScriptedWin32::GetNodeProperty(DEVINST node, ULONG property, PULONG, PVOID buffer, PULONG lengthBytes,
                                                ULONG) {
  const size_t index = node - kParentNodes;
  if (node < kParentNodes || index >= host_->collections.size()) return CR_NO_SUCH_DEVNODE;
  const auto& ids = host_->collections[index].parentCompatibleIds;
  if (property != CM_DRP_COMPATIBLEIDS || ids.empty()) return CR_NO_SUCH_VALUE;
  std::wstring block;
  for (const std::wstring& id : ids) block += id + L'\0';
  block += L'\0';
  const ULONG needed = static_cast<ULONG>(block.size() * sizeof(WCHAR));
  if (*lengthBytes < needed) {
    *lengthBytes = needed;
    return CR_BUFFER_SMALL;
  }
  std::memcpy(buffer, block.data(), needed);
  *lengthBytes = needed;
  return CR_SUCCESS;
}

BOOLEAN WINAPI ScriptedWin32::GetPreparsed(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
  if (host_->Behind(handle) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(handle);
  return TRUE;
}

BOOLEAN WINAPI ScriptedWin32::FreePreparsed(PHIDP_PREPARSED_DATA) { return TRUE; }

NTSTATUS WINAPI ScriptedWin32::GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  const ScriptedCollection* collection = host_->Behind(reinterpret_cast<HANDLE>(data));
  if (collection == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  *caps = {};
  caps->UsagePage = collection->usagePage;
  caps->Usage = collection->usage;
  caps->InputReportByteLength = collection->inputBytes;
  caps->OutputReportByteLength = collection->outputBytes;
  return HIDP_STATUS_SUCCESS;
}

BOOLEAN WINAPI ScriptedWin32::GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  const ScriptedCollection* collection = host_->Behind(handle);
  if (collection == nullptr) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  attributes->VendorID = collection->vendorId;
  attributes->ProductID = collection->productId;
  attributes->VersionNumber = 0x0100;
  return TRUE;
}

HANDLE WINAPI ScriptedWin32::Create(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  const ScriptedCollection* collection = host_->Find(path);
  if (collection == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // Windows lets anyone query a collection it holds: only a handle for
  // reading and writing is refused.
  if (access != 0 && collection->openError != 0) {
    SetLastError(collection->openError);
    return INVALID_HANDLE_VALUE;
  }
  if (access != 0) host_->opened.push_back(path);
  const HANDLE handle = reinterpret_cast<HANDLE>(host_->nextHandle_);
  host_->nextHandle_ += 4;
  host_->handles_[handle] = Handle{path, false};
  return handle;
}

WINBOOL WINAPI ScriptedWin32::Close(HANDLE handle) {
  if (host_->handles_.erase(handle) != 0) return TRUE;
  return SystemWin32Api().CloseHandle(handle);
}

WINBOOL WINAPI ScriptedWin32::Ioctl(HANDLE device, DWORD ioctl, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                                    LPDWORD, LPOVERLAPPED overlapped) {
  const auto found = host_->handles_.find(device);
  if (found == host_->handles_.end() || inBytes != kReportLengthBytes || outBytes != kReportLengthBytes ||
      overlapped == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int n = ++host_->requests;
  const bool output = ioctl == IOCTL_HID_SET_OUTPUT_REPORT;
  const auto* inBytesPtr = static_cast<const uint8_t*>(in);
  const Fate fate = host_->fate ? host_->fate(n, output, inBytesPtr) : Fate::kAnswer;
  Pending pending;
  pending.overlapped = overlapped;
  pending.event = overlapped->hEvent;
  pending.fate = fate;
  // A request that never ends never reaches the controller.
  if (fate == Fate::kAnswer || fate == Fate::kLate) {
    pending.ok = host_->Carry(found->second, ioctl, inBytesPtr, static_cast<uint8_t*>(out), pending.error);
  }
  if (fate == Fate::kAnswer) {
    if (!pending.ok) SetLastError(pending.error);
    return pending.ok ? TRUE : FALSE;
  }
  host_->pending_ = pending;
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

WINBOOL WINAPI ScriptedWin32::Result(HANDLE, LPOVERLAPPED overlapped, LPDWORD bytes, WINBOOL) {
  const Pending& pending = host_->pending_;
  if (pending.overlapped != overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (pending.cancelled) {
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
  }
  if (!pending.ok) {
    SetLastError(pending.error);
    return FALSE;
  }
  *bytes = kReportLengthBytes;
  return TRUE;
}

WINBOOL WINAPI ScriptedWin32::Cancel(HANDLE, LPOVERLAPPED overlapped) {
  ++host_->cancels;
  if (host_->pending_.overlapped == overlapped) host_->pending_.cancelled = true;
  return TRUE;
}

DWORD WINAPI ScriptedWin32::Wait(HANDLE object, DWORD timeoutMs) {
  Pending& pending = host_->pending_;
  if (pending.event == nullptr || pending.event != object) {
    return SystemWin32Api().WaitForSingleObject(object, timeoutMs);
  }
  host_->requestWaitsMs.push_back(timeoutMs);
  switch (pending.fate) {
    case Fate::kAnswer:
    case Fate::kLate:
      return WAIT_OBJECT_0;
    case Fate::kNever:
      return pending.cancelled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    case Fate::kNeverCancels:
      return WAIT_TIMEOUT;
  }
  return WAIT_FAILED;
}

}  // namespace tessaro::testing
