#include "platform/linux/hid_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/seams.h"
#include "platform/linux/hid_diagnosis_linux.h"
#include "platform/linux/lock_holder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "transport/connection.h"
#include "transport/registers.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFileBytes;

// Report descriptors of one top-level collection each, as devices have them.
const std::string kDigitizer("\x05\x0D\x09\x04\xA1\x01\x09\x22\xA1\x02\x09\x42\x81\x02\xC0\xC0", 16);
const std::string kConfiguration("\x05\x0D\x09\x0E\xA1\x01\x85\x02\x09\x52\xB1\x02\xC0", 13);
const std::string kVendor(
    "\x06\xF0\xFF\x09\x01\xA1\x01\x85\x0E\x09\x01\x75\x08\x95\x40\x91\x02\x09\x01\x81\x02\xC0", 22);
const std::string kMouse("\x05\x01\x09\x02\xA1\x01\x09\x01\xA1\x00\xC0\xC0", 12);

// A sysfs tree (sys/class/hidraw/hidrawN/device/{report_descriptor,uevent})
// and a dev folder whose hidrawN are plain files: they open like nodes but
// answer no hidraw ioctl, so the backend reads the node's sysfs view.
class FakeHidraw {
 public:
  std::string dir() const { return dir_.path(); }
  std::string sys() const { return dir_.File("sys"); }
  std::string dev() const { return dir_.File("dev"); }

  void AddNode(const std::string& name, const std::string* descriptor, uint16_t vendorId, bool withDev = true) {
    const std::string device = sys() + "/class/hidraw/" + name + "/device";
    fs::create_directories(device);
    fs::create_directories(dev());
    if (descriptor != nullptr) WriteFileBytes(device + "/report_descriptor", *descriptor);
    char uevent[128];
    std::snprintf(uevent, sizeof uevent, "DRIVER=hid-generic\nHID_ID=0018:0000%04X:00001234\nHID_NAME=touch\n",
                  vendorId);
    WriteFileBytes(device + "/uevent", uevent);
    if (withDev) WriteFileBytes(dev() + "/" + name, "");
  }
  std::wstring DevPath(const std::string& name) const {
    const std::string narrow = dev() + "/" + name;
    return std::wstring(narrow.begin(), narrow.end());
  }

 private:
  TempDir dir_;
};

std::vector<std::pair<std::wstring, uint32_t>> WalkAll(HidBackend& hid) {
  std::vector<std::pair<std::wstring, uint32_t>> entries;
  const auto walk = hid.BeginWalk();
  HidInterface entry;
  while (walk->Next(entry)) entries.emplace_back(entry.path, entry.collection);
  return entries;
}

TEST(HidrawBackend, WalksNodesInNumericOrderOneEntryPerTopLevelCollection) {
  FakeHidraw tree;
  const std::string several = kDigitizer + kConfiguration + kVendor;
  const std::string broken = kVendor.substr(0, kVendor.size() - 1);
  tree.AddNode("hidraw10", &kMouse, 0x1111);
  tree.AddNode("hidraw2", &several, kVendorId);
  tree.AddNode("hidraw0", &kVendor, kVendorId);
  tree.AddNode("hidraw1", &broken, kVendorId);     // cannot be walked: no entry
  tree.AddNode("hidraw3", nullptr, kVendorId);     // no descriptor: no entry
  tree.AddNode("hidrawx", &kVendor, kVendorId);    // not a node's name
  tree.AddNode("hidraw", &kVendor, kVendorId);
  tree.AddNode("hidraw07x", &kVendor, kVendorId);
  const std::string empty;
  tree.AddNode("hidraw4", &empty, kVendorId);      // no collection at all

  HidrawBackend hid(tree.sys(), tree.dev());
  const std::vector<std::pair<std::wstring, uint32_t>> expected = {
      {tree.DevPath("hidraw0"), 0},  {tree.DevPath("hidraw2"), 0}, {tree.DevPath("hidraw2"), 1},
      {tree.DevPath("hidraw2"), 2},  {tree.DevPath("hidraw10"), 0}};
  EXPECT_EQ(WalkAll(hid), expected);
}

TEST(HidrawBackend, NoHidrawClassMeansAnEmptyWalk) {
  TempDir dir;
  HidrawBackend hid(dir.File("sys"), dir.File("dev"));
  EXPECT_TRUE(WalkAll(hid).empty());
}

TEST(HidrawBackend, EachEntryOpensOnItsOwnCollection) {
  FakeHidraw tree;
  const std::string several = kDigitizer + kConfiguration + kVendor;
  tree.AddNode("hidraw5", &several, 0xBEEF);
  HidrawBackend hid(tree.sys(), tree.dev());

  const std::vector<std::pair<uint16_t, uint16_t>> expected = {{0x000D, 0x0004}, {0x000D, 0x000E}, {0xFFF0, 0x0001}};
  const auto entries = WalkAll(hid);
  ASSERT_EQ(entries.size(), expected.size());
  std::vector<HidHandle> handles;
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    HidHandle handle = kInvalidHidHandle;
    ASSERT_TRUE(hid.Open(HidInterface{entries[i].first, entries[i].second}, handle));
    EXPECT_GT(handle, 0);
    // A program the tool starts must not inherit the controller.
    EXPECT_NE(::fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0);
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    ASSERT_TRUE(hid.GetCaps(handle, usagePage, usage));
    EXPECT_EQ(std::make_pair(usagePage, usage), expected[i]);
    uint16_t vendorId = 0;
    ASSERT_TRUE(hid.GetVendorId(handle, vendorId));
    EXPECT_EQ(vendorId, 0xBEEF);
    handles.push_back(handle);
  }
  for (const HidHandle handle : handles) hid.Close(handle);
}

TEST(HidrawBackend, FailuresReportErrnoAndNeverTouchForeignDescriptors) {
  FakeHidraw tree;
  tree.AddNode("hidraw0", &kVendor, kVendorId);
  tree.AddNode("hidraw1", &kVendor, kVendorId, /*withDev=*/false);
  HidrawBackend hid(tree.sys(), tree.dev());

  // A node that cannot be opened is passed over, as Windows passes one over.
  HidHandle handle = 123;
  EXPECT_FALSE(hid.Open(HidInterface{tree.DevPath("hidraw1"), 0}, handle));
  EXPECT_EQ(handle, kInvalidHidHandle);
  EXPECT_EQ(hid.LastError(), static_cast<uint32_t>(ENOENT));
  // A path that no byte string spells.
  EXPECT_FALSE(hid.Open(HidInterface{L"/dev/hidraw\x263A", 0}, handle));
  EXPECT_EQ(hid.LastError(), static_cast<uint32_t>(EINVAL));

  // A collection the node does not have (the device changed since the walk).
  ASSERT_TRUE(hid.Open(HidInterface{tree.DevPath("hidraw0"), 1}, handle));
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  EXPECT_FALSE(hid.GetCaps(handle, usagePage, usage));
  // Reports to something that is no hidraw node fail with the kernel's code.
  Report report = {0x0E};
  EXPECT_FALSE(hid.SetOutputReport(handle, report));
  EXPECT_EQ(hid.LastError(), static_cast<uint32_t>(ENOTTY));
  EXPECT_FALSE(hid.GetInputReport(handle, report));
  EXPECT_EQ(hid.LastError(), static_cast<uint32_t>(ENOTTY));
  EXPECT_EQ(report[0], 0x0E);
  hid.Close(handle);

  // A closed handle, and one never given out, are refused, and Close leaves
  // a descriptor of another part of the process open.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  for (const HidHandle stale : {handle, static_cast<HidHandle>(pipeFds[0])}) {
    SCOPED_TRACE(stale);
    EXPECT_FALSE(hid.GetCaps(stale, usagePage, usage));
    EXPECT_EQ(hid.LastError(), static_cast<uint32_t>(EBADF));
    uint16_t vendorId = 0;
    EXPECT_FALSE(hid.GetVendorId(stale, vendorId));
    EXPECT_FALSE(hid.SetOutputReport(stale, report));
    EXPECT_FALSE(hid.GetInputReport(stale, report));
    hid.Close(stale);
  }
  EXPECT_NE(::fcntl(pipeFds[0], F_GETFD), -1);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}

TEST(HidrawBackend, NeverHandsOutDescriptorZero) {
  FakeHidraw tree;
  tree.AddNode("hidraw0", &kVendor, kVendorId);
  HidrawBackend hid(tree.sys(), tree.dev());
  const int savedStdin = ::dup(0);
  ASSERT_GE(savedStdin, 0);
  ::close(0);
  HidHandle handle = kInvalidHidHandle;
  const bool opened = hid.Open(HidInterface{tree.DevPath("hidraw0"), 0}, handle);
  const int fdZeroFlags = ::fcntl(0, F_GETFD);
  const int handleFlags = opened ? ::fcntl(static_cast<int>(handle), F_GETFD) : -1;
  ::dup2(savedStdin, 0);
  ::close(savedStdin);
  ASSERT_TRUE(opened);
  EXPECT_GT(handle, 0);
  EXPECT_EQ(fdZeroFlags, -1);  // the descriptor it came in on is given back
  EXPECT_NE(handleFlags & FD_CLOEXEC, 0);
  hid.Close(handle);
}

size_t OpenDescriptorCount() {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// The connection's own walk over the backend: the matching collection of the
// right vendor is taken; the others are opened, examined and closed.
TEST(HidrawBackend, ConnectionFindsTheVendorCollection) {
  const uint16_t foreign = static_cast<uint16_t>(kVendorId ^ 0x8001);
  struct Case {
    const char* name;
    uint16_t touchVendor;
    bool found;
  };
  for (const Case& c : {Case{"after a foreign vendor's collection", kVendorId, true},
                        Case{"only foreign vendors", foreign, false}}) {
    SCOPED_TRACE(c.name);
    FakeHidraw tree;
    const std::string touch = kDigitizer + kConfiguration + kVendor;
    tree.AddNode("hidraw1", &kVendor, foreign);
    tree.AddNode("hidraw9", &touch, c.touchVendor);
    HidrawBackend hid(tree.sys(), tree.dev());
    Installed<HidBackend> installed(&hid);
    testing::LogCapture log(3);
    const size_t before = OpenDescriptorCount();
    {
      CConnectionTLC connection;
      EXPECT_EQ(connection.Open(), c.found);
      EXPECT_EQ(OpenDescriptorCount(), before + (c.found ? 1 : 0));
      if (c.found) {
        EXPECT_NE(log.text().find("path of device is " + tree.dev() + "/hidraw9\n"), std::string::npos)
            << log.text();
        uint16_t usagePage = 0;
        uint16_t usage = 0;
        ASSERT_TRUE(hid.GetCaps(connection.deviceHandle, usagePage, usage));
        EXPECT_EQ(usagePage, reg::kUsagePage);
        EXPECT_EQ(usage, reg::kUsage);
      }
      connection.Close();
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
  }
}

// A signal may cut a report call short while the kernel waits for the
// device; the report goes again instead of failing the job.
TEST(HidrawBackend, ReportCallsCutShortByASignalAreMadeAgain) {
  FakeHidraw tree;
  tree.AddNode("hidraw0", &kVendor, kVendorId);
  int interruptions = 0;
  std::vector<uint8_t> sent;
  auto kernel = [&](int, unsigned long request, void* argument) {
    if (interruptions++ % 3 < 2) {
      errno = EINTR;
      return -1;
    }
    auto* bytes = static_cast<uint8_t*>(argument);
    if (request == HIDIOCSOUTPUT(kReportLengthBytes)) sent.assign(bytes, bytes + kReportLengthBytes);
    if (request == HIDIOCGINPUT(kReportLengthBytes)) bytes[1] = 0x5A;
    return static_cast<int>(kReportLengthBytes);
  };
  HidrawBackend hid(tree.sys(), tree.dev(), kernel);
  HidHandle handle = kInvalidHidHandle;
  ASSERT_TRUE(hid.Open(HidInterface{tree.DevPath("hidraw0"), 0}, handle));
  Report report = {0x0E, 0x33};
  EXPECT_TRUE(hid.SetOutputReport(handle, report)) << hid.LastError();
  ASSERT_EQ(sent.size(), kReportLengthBytes);
  EXPECT_EQ(sent[1], 0x33);
  EXPECT_TRUE(hid.GetInputReport(handle, report)) << hid.LastError();
  EXPECT_EQ(report[1], 0x5A);
  EXPECT_EQ(interruptions, 6);
  hid.Close(handle);
}

// The devices listing's view of the same tree: facts without opening, and
// an open error turned into its fix.
TEST(HidrawDiagnosis, DescribesEachCollectionWithoutOpeningIt) {
  FakeHidraw tree;
  const std::string several = kDigitizer + kVendor;
  tree.AddNode("hidraw0", &several, kVendorId);
  HidrawDiagnosis diagnosis(tree.sys(), tree.dir());
  const struct {
    uint32_t collection;
    bool haveUsages;
    uint16_t usagePage;
    uint16_t usage;
  } cases[] = {{0, true, 0x000D, 0x0004}, {1, true, 0xFFF0, 0x0001}, {2, false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.collection);
    const InterfaceFacts facts = diagnosis.Describe(HidInterface{tree.DevPath("hidraw0"), c.collection});
    EXPECT_EQ(facts.bus, "I2C");
    EXPECT_TRUE(facts.haveIds);
    EXPECT_EQ(facts.vendorId, kVendorId);
    EXPECT_EQ(facts.productId, 0x1234);
    EXPECT_EQ(facts.haveUsages, c.haveUsages);
    EXPECT_EQ(facts.usagePage, c.usagePage);
    EXPECT_EQ(facts.usage, c.usage);
  }
}

TEST(HidrawDiagnosis, NamesTheFixOfAnOpenError) {
  FakeHidraw tree;
  tree.AddNode("hidraw0", &kVendor, kVendorId);
  tree.AddNode("hidraw1", &kMouse, static_cast<uint16_t>(kVendorId + 1));
  ::chmod((tree.dev() + "/hidraw0").c_str(), 0600);
  const std::string rules = tree.dir() + "/etc/udev/rules.d";
  HidrawDiagnosis diagnosis(tree.sys(), tree.dir());
  auto explain = [&](const std::string& node, uint32_t error) {
    const HidInterface interface{tree.DevPath(node), 0};
    return diagnosis.ExplainOpenFailure(interface, diagnosis.Describe(interface), error);
  };
  EXPECT_NE(explain("hidraw0", EACCES).hint.find("no udev rule for vendor"), std::string::npos);
  char rule[128];
  std::snprintf(rule, sizeof rule, "SUBSYSTEM==\"hidraw\", KERNELS==\"????:%04X:????.*\", GROUP=\"plugdev\"\n",
                kVendorId);
  fs::create_directories(rules);
  WriteFileBytes(rules + "/70-tessaro.rules", rule);
  const OpenProblem notApplied = explain("hidraw0", EACCES);
  EXPECT_EQ(notApplied.error, "errno 13 (Permission denied)");
  EXPECT_NE(notApplied.hint.find("-rw-------, group "), std::string::npos) << notApplied.hint;
  EXPECT_NE(notApplied.hint.find("not applied to this node"), std::string::npos) << notApplied.hint;
  EXPECT_NE(explain("hidraw1", EACCES).hint.find("another vendor's device"), std::string::npos);
  EXPECT_NE(explain("hidraw0", ENOENT).hint.find("udev has not created it"), std::string::npos);
  EXPECT_EQ(explain("hidraw0", EIO).hint, "");
}

TEST(HidrawDiagnosis, KernelsOlderThan511LackTheReportIoctls) {
  const std::pair<const char*, bool> cases[] = {{"5.10.0-9-amd64", true}, {"5.11.0", false}, {"4.19.0", true},
                                                {"6.1.0-18-amd64", false}, {"10.0", false}, {"garbage", false}};
  for (const auto& [release, older] : cases) EXPECT_EQ(KernelOlderThan511(release), older) << release;
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {

// Another open of the node holding the lock stands for another process:
// flock locks belong to one open file, whoever opened it.
TEST(HidrawBackend, ControllerLockedElsewhereIsBusyAndNamesTheHolder) {
  FakeHidraw tree;
  tree.AddNode("hidraw3", &kVendor, kVendorId);
  HidrawBackend hid(tree.sys(), tree.dev());
  Installed<HidBackend> installed(&hid);
  testing::FakeClock clock;
  testing::LogCapture log(3);
  const int other = ::open((tree.dev() + "/hidraw3").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  const size_t before = OpenDescriptorCount();
  {
    CConnectionTLC connection;
    EXPECT_FALSE(OpenForJob(connection));
    EXPECT_TRUE(connection.busy);
    EXPECT_EQ(log.text(), "error     : controller in use by another process (pid " + std::to_string(getpid()) +
                              "), nothing sent\n");
    EXPECT_EQ(clock.totalSleptMs, 0u) << "waiting would not free it";
    EXPECT_EQ(OpenDescriptorCount(), before);

    ::close(other);
    log.clear();
    EXPECT_TRUE(OpenForJob(connection));
    EXPECT_FALSE(connection.busy);
    // Held now, and exclusively: another open of the node is refused even
    // a shared lock, which a shared claim would let it have.
    const int third = ::open((tree.dev() + "/hidraw3").c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_NE(::flock(third, LOCK_SH | LOCK_NB), 0);
    EXPECT_NE(::flock(third, LOCK_EX | LOCK_NB), 0);
    ::close(third);
    connection.Close();
  }
}

TEST(LockHolder, ReadsTheWriterOfTheFileFromProcLocks) {
  const std::string locks =
      "1: POSIX  ADVISORY  WRITE 77 08:01:1234 0 EOF\n"
      "2: FLOCK  ADVISORY  WRITE 4321 00:1a:99 0 EOF\n"
      "2: -> FLOCK  ADVISORY  WRITE 555 00:1a:99 0 EOF\n"
      "3: FLOCK  ADVISORY  READ 88 00:1a:100 0 EOF\n";
  EXPECT_EQ(FlockHolderPidIn(locks, 0x00, 0x1a, 99), 4321u);
  EXPECT_EQ(FlockHolderPidIn(locks, 0x08, 0x01, 1234), 0u) << "a POSIX lock is not the tool's";
  EXPECT_EQ(FlockHolderPidIn(locks, 0x00, 0x1a, 100), 0u) << "a shared lock holds nothing exclusively";
  EXPECT_EQ(FlockHolderPidIn("", 0, 0, 1), 0u);
}

}  // namespace
}  // namespace tessaro
