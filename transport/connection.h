#pragma once
// One connection to the controller's vendor-defined HID collection, and the
// register operations carried over its 65-byte reports.
#include <cstdint>

#include "transport/hid.h"

#ifndef TESSARO_VENDOR_ID
#define TESSARO_VENDOR_ID 0x0000
#endif

namespace tessaro {

// The USB vendor ID of the controller's maker, fixed by the build.
constexpr uint16_t kVendorId = TESSARO_VENDOR_ID;

class COpenParamentTLC {
 public:
  virtual ~COpenParamentTLC() = default;
  uint16_t usage = 0;
  uint16_t usagePage = 0;
  uint16_t vendorId = 0;
};

class CConnectionTLC {
 public:
  CConnectionTLC() = default;
  virtual ~CConnectionTLC() = default;
  CConnectionTLC(const CConnectionTLC&) = delete;
  CConnectionTLC& operator=(const CConnectionTLC&) = delete;

  bool Open();
  bool FindDevice(HidHandle& handle);
  void Close();

  // Register operations; see the .cpp for each result code.
  int32_t WriteReport(const uint8_t* buffer, int32_t len);
  int32_t ReadRegister(uint16_t address, uint8_t* dest, int32_t len);
  int32_t WriteRegister(uint16_t address, const uint8_t* data, uint32_t n);
  int32_t SetBasicProperties();

  HidHandle deviceHandle = kInvalidHidHandle;
  int32_t opened = 0;
  COpenParamentTLC openParams;
  uint8_t sensorId = 0x10;
  char pid[5] = {};
  uint8_t vid[5] = {};
};

// The opening sequence of every job: up to 4 attempts of Open, 2000 ms
// apart (after the fourth too), with their log lines. True when open.
bool OpenForJob(CConnectionTLC& connection);

}  // namespace tessaro
