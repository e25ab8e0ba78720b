#include <windows.h>

#include "platform/win32/win32_api.h"

namespace tessaro {
namespace {

const Win32Api systemApi = {
    ::SetupDiGetClassDevsW,
    ::SetupDiEnumDeviceInterfaces,
    ::SetupDiGetDeviceInterfaceDetailW,
    ::SetupDiDestroyDeviceInfoList,
    ::SetupDiCreateDeviceInfoList,
    ::SetupDiOpenDeviceInterfaceW,
    ::CM_Get_Parent,
    ::CM_Get_Device_IDW,
    ::CM_Get_DevNode_Registry_PropertyW,
    ::HidD_GetHidGuid,
    ::HidD_GetPreparsedData,
    ::HidD_FreePreparsedData,
    ::HidP_GetCaps,
    ::HidD_GetAttributes,
    ::CreateFileW,
    ::CloseHandle,
    ::DeviceIoControl,
    ::GetOverlappedResult,
    ::CancelIoEx,
    ::CreateEventW,
    ::WaitForSingleObject,
    ::GetLastError,
    ::CreateMutexW,
    ::ReleaseMutex,
};

const Win32Api* installed = &systemApi;

}  // namespace

const Win32Api& SystemWin32Api() { return systemApi; }
const Win32Api& Api() { return *installed; }

ScopedWin32Api::ScopedWin32Api(const Win32Api& api) : previous_(installed) { installed = &api; }
ScopedWin32Api::~ScopedWin32Api() { installed = previous_; }

}  // namespace tessaro
