#pragma once
// Every Win32 call of the HID backend and of the device listing's diagnosis,
// through one table of function pointers. The program runs on the system's
// own functions; a test replaces single entries to script what only
// hardware does (a request that never ends, a device that goes away in the
// middle, a collection the system holds, report lengths other than 65), and
// Wine runs the rest for real.
//
// Include after <windows.h>.
#include <cfgmgr32.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

namespace tessaro {

struct Win32Api {
  // SetupAPI: the walk, and the device node behind an interface path.
  decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
  decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
  decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW;
  decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
  decltype(&::SetupDiCreateDeviceInfoList) SetupDiCreateDeviceInfoList;
  decltype(&::SetupDiOpenDeviceInterfaceW) SetupDiOpenDeviceInterfaceW;
  // Configuration manager: a device node's parent, its ID and compatible IDs.
  decltype(&::CM_Get_Parent) CM_Get_Parent;
  decltype(&::CM_Get_Device_IDW) CM_Get_Device_IDW;
  decltype(&::CM_Get_DevNode_Registry_PropertyW) CM_Get_DevNode_Registry_PropertyW;
  // The HID class driver.
  decltype(&::HidD_GetHidGuid) HidD_GetHidGuid;
  decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData;
  decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData;
  decltype(&::HidP_GetCaps) HidP_GetCaps;
  decltype(&::HidD_GetAttributes) HidD_GetAttributes;
  // Kernel: handles, the report requests and their bound.
  decltype(&::CreateFileW) CreateFileW;
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::DeviceIoControl) DeviceIoControl;
  decltype(&::GetOverlappedResult) GetOverlappedResult;
  decltype(&::CancelIoEx) CancelIoEx;
  decltype(&::CreateEventW) CreateEventW;
  decltype(&::WaitForSingleObject) WaitForSingleObject;
  decltype(&::GetLastError) GetLastError;
  // The controller's host-wide lock.
  decltype(&::CreateMutexW) CreateMutexW;
  decltype(&::ReleaseMutex) ReleaseMutex;
};

// The system's own functions.
const Win32Api& SystemWin32Api();

// The table in use. Tests install theirs with ScriptedWin32Api; nothing else
// changes it.
const Win32Api& Api();

// Installs a table for the life of the object and brings back the one
// before.
class ScopedWin32Api {
 public:
  explicit ScopedWin32Api(const Win32Api& api);
  ~ScopedWin32Api();
  ScopedWin32Api(const ScopedWin32Api&) = delete;
  ScopedWin32Api& operator=(const ScopedWin32Api&) = delete;

 private:
  const Win32Api* previous_;
};

}  // namespace tessaro
