#pragma once
// A Windows host scripted through the Win32 table: the HID backend and the
// diagnosis run unchanged, and the SetupAPI, configuration manager, HID and
// report calls they make reach a host of scripted collections whose
// controller collection is the simulated controller. Scripts give what only
// hardware shows: a request that never ends or ends late, a device that goes
// away, a collection that comes back under a new path, a collection the
// system holds, report lengths other than 65. Waits on a request never
// really wait. Other handles (events, mutexes) go to the system.
//
// The project's headers come before <windows.h>, whose `interface` macro
// would break them.
#include "sim/controller.h"
#include "transport/connection.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace tessaro::testing {

struct ScriptedCollection {
  std::wstring path;
  uint16_t vendorId = kVendorId;
  uint16_t productId = 0x0001;
  uint16_t usagePage = 0xFFF0;
  uint16_t usage = 0x0001;
  uint16_t inputBytes = 65;
  uint16_t outputBytes = 65;
  // An open for reading and writing fails with this (0: it opens).
  DWORD openError = 0;
  // The device node above the collection's: its instance ID ("" for none)
  // and compatible IDs.
  std::wstring parentId;
  std::vector<std::wstring> parentCompatibleIds;
};

// What one report request does.
enum class Fate {
  kAnswer,        // ends at once, as Wine's stack does
  kLate,          // pending, and ends within the bound
  kNever,         // pending for ever; ends when cancelled
  kNeverCancels,  // pending for ever, and the driver ignores the cancel
};

class ScriptedWin32 {
 public:
  explicit ScriptedWin32(std::vector<ScriptedCollection> present);
  ~ScriptedWin32();
  ScriptedWin32(const ScriptedWin32&) = delete;
  ScriptedWin32& operator=(const ScriptedWin32&) = delete;

  // The host's collections now; walks list them in this order.
  std::vector<ScriptedCollection> collections;
  sim::State state;
  sim::Flash flash;
  sim::Controller controller;

  // The fate of request n (from 1) carrying `report` (the output report, or
  // the input report's ID); kAnswer when unset.
  std::function<Fate(int n, bool output, const uint8_t* report)> fate;
  // After the controller took an output report.
  std::function<void(const uint8_t* report)> afterOutput;

  // The collection at oldPath goes away; with a newPath it comes back there
  // (as Windows re-creates a collection after a device's reset). Handles to
  // the old one fail with ERROR_DEVICE_NOT_CONNECTED from now on.
  void Replace(const std::wstring& oldPath, const std::wstring& newPath);

  int requests = 0;
  int cancels = 0;
  int walks = 0;
  std::vector<DWORD> requestWaitsMs;  // timeouts of the waits on a request
  std::vector<std::wstring> opened;   // paths opened for reading and writing
  int OpenHandles() const { return static_cast<int>(handles_.size()); }

 private:
  struct Handle {
    std::wstring path;
    bool gone = false;
  };
  struct Pending {
    OVERLAPPED* overlapped = nullptr;
    HANDLE event = nullptr;
    Fate fate = Fate::kAnswer;
    bool cancelled = false;
    bool ok = true;
    DWORD error = 0;
  };
  const ScriptedCollection* Find(const std::wstring& path) const;
  const ScriptedCollection* Behind(HANDLE handle) const;
  // Carries a request out on the controller; false with the error.
  bool Carry(const Handle& handle, DWORD ioctl, const uint8_t* in, uint8_t* out, DWORD& error);

  // The table's entries reach the one host installed.
  static ScriptedWin32* host_;
  static HDEVINFO WINAPI GetClassDevs(const GUID*, PCWSTR, HWND, DWORD);
  static WINBOOL WINAPI EnumInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
  static WINBOOL WINAPI InterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_W,
                                        DWORD, PDWORD, PSP_DEVINFO_DATA);
  static WINBOOL WINAPI DestroyList(HDEVINFO);
  static HDEVINFO WINAPI CreateList(const GUID*, HWND);
  static WINBOOL WINAPI OpenInterface(HDEVINFO, PCWSTR, DWORD, PSP_DEVICE_INTERFACE_DATA);
  static CONFIGRET WINAPI GetParent(PDEVINST, DEVINST, ULONG);
  static CONFIGRET WINAPI GetDeviceId(DEVINST, PWCHAR, ULONG, ULONG);
  static CONFIGRET WINAPI GetNodeProperty(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG);
  static BOOLEAN WINAPI GetPreparsed(HANDLE, PHIDP_PREPARSED_DATA*);
  static BOOLEAN WINAPI FreePreparsed(PHIDP_PREPARSED_DATA);
  static NTSTATUS WINAPI GetCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
  static BOOLEAN WINAPI GetAttributes(HANDLE, PHIDD_ATTRIBUTES);
  static HANDLE WINAPI Create(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  static WINBOOL WINAPI Close(HANDLE);
  static WINBOOL WINAPI Ioctl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  static WINBOOL WINAPI Result(HANDLE, LPOVERLAPPED, LPDWORD, WINBOOL);
  static WINBOOL WINAPI Cancel(HANDLE, LPOVERLAPPED);
  static DWORD WINAPI Wait(HANDLE, DWORD);

  Win32Api api_;
  ScopedWin32Api installed_;
  std::map<HANDLE, Handle> handles_;
  uintptr_t nextHandle_ = 0x7A000;
  // Paths of the interfaces a walk or an open of an interface handed out,
  // by their index + 1 in SP_DEVICE_INTERFACE_DATA::Reserved.
  std::vector<std::wstring> interfacePaths_;
  size_t walkBase_ = 0;
  size_t walkCount_ = 0;
  Pending pending_;
};

}  // namespace tessaro::testing
