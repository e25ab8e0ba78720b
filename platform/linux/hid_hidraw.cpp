#include "platform/linux/hid_hidraw.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/linux/lock_holder.h"
#include "transport/report_descriptor.h"

// Kernel headers older than 5.11 lack the report ioctls; the numbers are the
// kernel's ABI.
#ifndef HIDIOCGINPUT
#define HIDIOCGINPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0A, len)
#endif
#ifndef HIDIOCSOUTPUT
#define HIDIOCSOUTPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0B, len)
#endif

namespace tessaro {
namespace {

// sysfs files are small; a report descriptor is at most 4096 bytes.
constexpr size_t kMaxSysfsFileBytes = 64 * 1024;

// Owns a descriptor for the span of one function.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole of a small file; false with errno set.
bool ReadSmallFile(const std::string& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  const ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  uint8_t chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    if (bytes.size() + static_cast<size_t>(got) > kMaxSysfsFileBytes) {
      errno = EFBIG;
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
}

// "hidraw" followed by decimal digits only: the node's number.
bool HidrawNumber(const char* name, unsigned long& number) {
  static const char kPrefix[] = "hidraw";
  if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
  const char* digits = name + sizeof kPrefix - 1;
  if (*digits == '\0') return false;
  number = 0;
  for (const char* c = digits; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    if (number > 100000000ul) return false;  // far past any minor number
    number = number * 10 + static_cast<unsigned long>(*c - '0');
  }
  return true;
}

// Device paths are bytes; each byte becomes one wide character, so that the
// path prints as it is and narrows back unchanged.
std::wstring Widen(const std::string& narrow) {
  std::wstring wide;
  wide.reserve(narrow.size());
  for (const char c : narrow) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

bool Narrow(const std::wstring& wide, std::string& narrow) {
  narrow.clear();
  for (const wchar_t c : wide) {
    if (c <= 0 || c > 0xFF) return false;
    narrow.push_back(static_cast<char>(static_cast<unsigned char>(c)));
  }
  return true;
}

std::string NodeSysfsDir(const std::string& sysfsRoot, const std::string& node) {
  return sysfsRoot + "/class/hidraw/" + node + "/device";
}

bool ParseCollections(const std::vector<uint8_t>& descriptor, std::vector<TopLevelCollection>& collections) {
  if (!ParseTopLevelCollections(descriptor.data(), descriptor.size(), collections)) {
    errno = EBADMSG;
    return false;
  }
  return true;
}

// The vendor part of the HID device's "HID_ID=BUS:VENDOR:PRODUCT" uevent
// line, each part in hex (vendor and product 8 digits wide).
bool VendorFromUevent(const std::vector<uint8_t>& uevent, uint16_t& vendorId) {
  const std::string text(uevent.begin(), uevent.end());
  static const char kKey[] = "HID_ID=";
  size_t line = 0;
  while (line < text.size()) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    if (text.compare(line, sizeof kKey - 1, kKey) == 0) {
      const std::string value = text.substr(line + sizeof kKey - 1, end - line - (sizeof kKey - 1));
      const size_t first = value.find(':');
      const size_t second = first == std::string::npos ? first : value.find(':', first + 1);
      if (second == std::string::npos || second == first + 1 || second - first - 1 > 8) break;
      uint32_t vendor = 0;
      for (size_t i = first + 1; i < second; ++i) {
        const char c = value[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
          digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
          digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
          digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
          errno = EBADMSG;
          return false;
        }
        vendor = vendor << 4 | digit;
      }
      vendorId = static_cast<uint16_t>(vendor & 0xFFFFu);
      return true;
    }
    line = end + 1;
  }
  errno = EBADMSG;
  return false;
}

// The descriptor of an fd that answers no hidraw ioctl (ENOTTY, EINVAL) can
// still come from the node's sysfs view; any other failure is the device's.
bool NotHidraw(int error) { return error == ENOTTY || error == EINVAL; }

class HidrawWalk final : public HidWalk {
 public:
  HidrawWalk(std::string sysfsRoot, std::string devRoot, std::vector<std::string> nodes)
      : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)), nodes_(std::move(nodes)) {}

  bool Next(HidInterface& out) override {
    while (nextCollection_ >= collectionCount_) {
      if (nextNode_ >= nodes_.size()) return false;
      const std::string& node = nodes_[nextNode_++];
      collectionCount_ = 0;
      nextCollection_ = 0;
      // The sysfs descriptor needs no right to the node itself. A node whose
      // descriptor cannot be had or walked offers no collection.
      std::vector<uint8_t> descriptor;
      std::vector<TopLevelCollection> collections;
      if (!ReadSmallFile(NodeSysfsDir(sysfsRoot_, node) + "/report_descriptor", descriptor)) continue;
      if (!ParseCollections(descriptor, collections)) continue;
      collectionCount_ = static_cast<uint32_t>(collections.size());
      path_ = Widen(devRoot_ + "/" + node);
    }
    out.path = path_;
    out.collection = nextCollection_++;
    return true;
  }

 private:
  std::string sysfsRoot_;
  std::string devRoot_;
  std::vector<std::string> nodes_;
  size_t nextNode_ = 0;
  std::wstring path_;
  uint32_t collectionCount_ = 0;
  uint32_t nextCollection_ = 0;
};

}  // namespace

HidrawBackend::HidrawBackend(std::string sysfsRoot, std::string devRoot, IoctlCall ioctl)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)), ioctl_(std::move(ioctl)) {
  if (!ioctl_) ioctl_ = [](int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); };
}

HidrawBackend::~HidrawBackend() {
  for (const auto& entry : open_) ::close(static_cast<int>(entry.first));
}

std::unique_ptr<HidWalk> HidrawBackend::BeginWalk() {
  // The node list is taken once, as SetupAPI takes its set at the start.
  std::vector<std::pair<unsigned long, std::string>> numbered;
  const std::string classDir = sysfsRoot_ + "/class/hidraw";
  if (DIR* dir = ::opendir(classDir.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      unsigned long number = 0;
      if (HidrawNumber(entry->d_name, number)) numbered.emplace_back(number, entry->d_name);
    }
    ::closedir(dir);
  }
  // Numeric order: hidraw2 before hidraw10.
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> nodes;
  nodes.reserve(numbered.size());
  for (auto& node : numbered) nodes.push_back(std::move(node.second));
  return std::make_unique<HidrawWalk>(sysfsRoot_, devRoot_, std::move(nodes));
}

bool HidrawBackend::Open(const HidInterface& interface, HidHandle& out) {
  out = kInvalidHidHandle;
  std::string path;
  if (!Narrow(interface.path, path)) return Fail(EINVAL);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  if (fd == 0) {
    // Handle 0 reads as "not open" to the connection: move off it.
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    const int error = errno;
    ::close(fd);
    if (moved < 0) return Fail(error);
    fd = moved;
  }
  OpenCollection collection;
  collection.collection = interface.collection;
  const size_t slash = path.rfind('/');
  collection.node = slash == std::string::npos ? path : path.substr(slash + 1);
  open_[fd] = std::move(collection);
  out = fd;
  return true;
}

bool HidrawBackend::GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) {
  OpenCollection* open = Find(handle);
  if (open == nullptr) return false;
  if (!open->haveCaps) {
    std::vector<uint8_t> descriptor;
    if (!ReadDescriptor(handle, descriptor)) {
      const int error = errno;
      if (!NotHidraw(error)) return Fail(error);
      if (!ReadSmallFile(NodeSysfsDir(sysfsRoot_, open->node) + "/report_descriptor", descriptor)) {
        return Fail(error);
      }
    }
    std::vector<TopLevelCollection> collections;
    if (!ParseCollections(descriptor, collections)) return Fail(errno);
    // The node may have changed between the walk and the open.
    if (open->collection >= collections.size()) return Fail(ENODEV);
    open->usagePage = collections[open->collection].usagePage;
    open->usage = collections[open->collection].usage;
    open->haveCaps = true;
  }
  usagePage = open->usagePage;
  usage = open->usage;
  return true;
}

bool HidrawBackend::GetVendorId(HidHandle handle, uint16_t& vendorId) {
  OpenCollection* open = Find(handle);
  if (open == nullptr) return false;
  hidraw_devinfo info{};
  if (Ioctl(handle, HIDIOCGRAWINFO, &info) == 0) {
    // The kernel's fields are signed 16-bit: 0xBEEF arrives as -16657.
    vendorId = static_cast<uint16_t>(info.vendor);
    return true;
  }
  const int error = errno;
  if (!NotHidraw(error)) return Fail(error);
  std::vector<uint8_t> uevent;
  if (!ReadSmallFile(NodeSysfsDir(sysfsRoot_, open->node) + "/uevent", uevent) ||
      !VendorFromUevent(uevent, vendorId)) {
    return Fail(error);
  }
  return true;
}

bool HidrawBackend::SetOutputReport(HidHandle handle, const Report& report) {
  if (Find(handle) == nullptr) return false;
  // The ioctl may write its buffer back; the caller's report stays as given.
  Report buffer;
  std::memcpy(buffer, report, sizeof buffer);
  if (Ioctl(handle, HIDIOCSOUTPUT(kReportLengthBytes), buffer) < 0) return Fail(errno);
  return true;
}

bool HidrawBackend::GetInputReport(HidHandle handle, Report& report) {
  if (Find(handle) == nullptr) return false;
  // Byte 0 carries the report ID in and out; the kernel copies back as many
  // bytes as the device returned, and the rest stays as the caller had it.
  Report buffer;
  std::memcpy(buffer, report, sizeof buffer);
  const int got = Ioctl(handle, HIDIOCGINPUT(kReportLengthBytes), buffer);
  if (got < 0) return Fail(errno);
  std::memcpy(report, buffer, std::min(static_cast<size_t>(got), sizeof buffer));
  return true;
}

HidClaim HidrawBackend::Claim(const HidInterface&, HidHandle handle) {
  HidClaim claim;
  if (Find(handle) == nullptr) return claim;
  const int fd = static_cast<int>(handle);
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno == EWOULDBLOCK) {
    claim.outcome = HidClaim::Outcome::kBusy;
    claim.holderPid = FlockHolderPid(fd);
  }
  return claim;
}

void HidrawBackend::Close(HidHandle handle) {
  // Only handles given out here are closed: never a descriptor of another
  // part of the process.
  const auto found = open_.find(handle);
  if (found == open_.end()) return;
  ::close(static_cast<int>(handle));
  open_.erase(found);
}

uint32_t HidrawBackend::LastError() { return lastError_; }

bool HidrawBackend::IsGoneError(uint32_t error) { return error == ENODEV; }

HidrawBackend::OpenCollection* HidrawBackend::Find(HidHandle handle) {
  const auto found = open_.find(handle);
  if (found == open_.end()) {
    Fail(EBADF);
    return nullptr;
  }
  return &found->second;
}

int HidrawBackend::Ioctl(HidHandle handle, unsigned long request, void* argument) {
  // A signal held off during an update (or any other) may land while the
  // kernel waits for the device; the report is then sent or read again
  // rather than failing the job.
  int result = 0;
  do {
    result = ioctl_(static_cast<int>(handle), request, argument);
  } while (result < 0 && errno == EINTR);
  return result;
}

// The report descriptor of an open node, from the kernel.
bool HidrawBackend::ReadDescriptor(HidHandle handle, std::vector<uint8_t>& descriptor) {
  int size = 0;
  if (Ioctl(handle, HIDIOCGRDESCSIZE, &size) < 0) return false;
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    errno = EBADMSG;
    return false;
  }
  auto raw = std::make_unique<hidraw_report_descriptor>();
  raw->size = static_cast<uint32_t>(size);
  if (Ioctl(handle, HIDIOCGRDESC, raw.get()) < 0) return false;
  descriptor.assign(raw->value, raw->value + size);
  return true;
}

bool HidrawBackend::Fail(int error) {
  lastError_ = static_cast<uint32_t>(error);
  errno = error;
  return false;
}

}  // namespace tessaro
