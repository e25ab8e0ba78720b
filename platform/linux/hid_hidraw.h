#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/hid.h"

namespace tessaro {

// HID over the kernel's hidraw nodes, with nothing but the C library and the
// kernel's ioctls, so that the program can be one static file.
//
// The walk lists /sys/class/hidraw/hidrawN in ascending N and gives one entry
// per top-level collection of each node's report descriptor, as Windows gives
// one interface per collection; the entries of one node share the path
// /dev/hidrawN and differ by collection index. Reports go with HIDIOCSOUTPUT
// and HIDIOCGINPUT (kernel 5.11 and later). Error codes are errno values.
class HidrawBackend final : public HidBackend {
 public:
  // ioctl(2) on a node; tests stand in for the kernel's answers.
  using IoctlCall = std::function<int(int fd, unsigned long request, void* argument)>;

  // The roots of the kernel's views; tests point them at a tree of their own.
  explicit HidrawBackend(std::string sysfsRoot = "/sys", std::string devRoot = "/dev", IoctlCall ioctl = {});
  // Closes whatever handle is still open.
  ~HidrawBackend() override;
  HidrawBackend(const HidrawBackend&) = delete;
  HidrawBackend& operator=(const HidrawBackend&) = delete;

  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& interface, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  // An exclusive flock on the node, which the kernel drops with the
  // descriptor; the holder is named from /proc/locks.
  HidClaim Claim(const HidInterface& interface, HidHandle handle) override;
  void Close(HidHandle handle) override;
  // errno of the last call of this backend that failed.
  uint32_t LastError() override;
  // ENODEV: the node's device was removed (a controller re-created after
  // its reset comes back as another node).
  bool IsGoneError(uint32_t error) override;

 private:
  // What a handle stands for: one collection of one node.
  struct OpenCollection {
    uint32_t collection = 0;
    std::string node;  // "hidrawN", to find the node's sysfs view
    bool haveCaps = false;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
  };

  // The open collection of a handle, or null (with EBADF) for a handle this
  // backend did not give out or has closed.
  OpenCollection* Find(HidHandle handle);
  bool Fail(int error);
  // One ioctl, retried for as long as a signal cuts it short.
  int Ioctl(HidHandle handle, unsigned long request, void* argument);
  bool ReadDescriptor(HidHandle handle, std::vector<uint8_t>& descriptor);

  std::string sysfsRoot_;
  std::string devRoot_;
  IoctlCall ioctl_;
  std::map<HidHandle, OpenCollection> open_;
  uint32_t lastError_ = 0;
};

}  // namespace tessaro
